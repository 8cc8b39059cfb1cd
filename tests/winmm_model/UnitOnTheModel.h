#pragma once
// The simulated unit behind a USB-MIDI interface of the winmm stand-in: what leaves the
// stand-in's output reaches the unit, its replies arrive on the stand-in's input.
#include <windows.h>

#include <memory>

#include "WinmmModelControl.h"
#include "sim/SimulatedUnit.h"

namespace vantro {

class UnitOnTheModel : public sim::UnitWire {
  public:
    // baud: the stand-in's wire rate both ways (0: instant, when the unit models the wire).
    explicit UnitOnTheModel(const sim::SimOptions& options = {}, unsigned baud = 0)
        : model_(winmm_model::loadControl()) {
        model_.reset();
        in_ = model_.addInput("VANTRO USB MIDI");
        out_ = model_.addOutput("VANTRO USB MIDI");
        model_.setBaud(WINMM_MODEL_INPUT, in_, baud);
        model_.setBaud(WINMM_MODEL_OUTPUT, out_, baud);
        unit_ = std::make_unique<sim::SimulatedUnit>(options, *this);
        model_.setSink(out_, &Heard, this);
    }
    ~UnitOnTheModel() override {
        Stop();
        model_.setSink(out_, nullptr, nullptr);
    }
    // The unit hears nothing more.
    void Stop() { unit_->Stop(); }

    void SendSysEx(const uint8_t* bytes, std::size_t length) override {
        model_.inject(in_, bytes, static_cast<unsigned>(length));
    }
    void SendInvalidShort() override {
        const unsigned char stray = 0x42;
        model_.inject(in_, &stray, 1);
    }
    void Unplug() override {
        model_.remove(WINMM_MODEL_INPUT, in_);
        model_.remove(WINMM_MODEL_OUTPUT, out_);
    }

    winmm_model::Control& Model() { return model_; }
    sim::UnitCore& Core() { return unit_->Core(); }
    unsigned In() const { return in_; }
    unsigned Out() const { return out_; }
    bool PortsOpen() {
        return model_.isOpen(WINMM_MODEL_INPUT, in_) || model_.isOpen(WINMM_MODEL_OUTPUT, out_);
    }

  private:
    static void Heard(void* self, const unsigned char* bytes, unsigned length) {
        static_cast<UnitOnTheModel*>(self)->unit_->OnRequest(bytes, length);
    }

    winmm_model::Control model_;
    unsigned in_ = 0, out_ = 0;
    std::unique_ptr<sim::SimulatedUnit> unit_;
};

}  // namespace vantro

#pragma once

#include <cstdint>
#include <memory>

namespace midi {

class CMIDIOutDevice;

// A MIDI message that can send itself.
class CMIDIMsg {
  public:
    virtual ~CMIDIMsg() = default;
    virtual void SendTo(CMIDIOutDevice& device) = 0;
    virtual uint32_t GetByteCount() const = 0;
    virtual const char* GetBytes() const = 0;
};

// A System Exclusive message, held as an owned copy of its bytes.
class CLongMsg : public CMIDIMsg {
  public:
    CLongMsg(const char* bytes, uint32_t length);

    // The port does not copy the bytes: keep the message alive until the port is done.
    void SendTo(CMIDIOutDevice& device) override;
    uint32_t GetByteCount() const override { return m_Length; }
    const char* GetBytes() const override { return m_Bytes.get(); }

  private:
    std::unique_ptr<char[]> m_Bytes;  // null when the message holds nothing
    uint32_t m_Length = 0;
};

}  // namespace midi

#pragma once
// Linux and macOS: winmm has no way to offer ports to other programs.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A pair of real MIDI ports published by this process for other programs (a virtual port pair
// on ALSA or JACK): its output shows in others' input lists, its input in their output lists.
class PublishedPortPair {
  public:
    // What arrives on its input, with when it arrived: on JACK each event as it came (the
    // pieces of a SysEx message one by one), elsewhere whole messages.
    using Handler = std::function<void(const uint8_t* bytes, std::size_t length,
                                       std::chrono::steady_clock::time_point arrival)>;

    // Throws std::runtime_error with the reason when no real MIDI system can publish ports.
    PublishedPortPair(const std::string& name, Handler onMessage);
    ~PublishedPortPair();
    PublishedPortPair(const PublishedPortPair&) = delete;
    PublishedPortPair& operator=(const PublishedPortPair&) = delete;

    // Sends one whole message from the pair's output; nothing once the pair is closed.
    void Send(const uint8_t* bytes, std::size_t length);
    // Takes both ports away, as a removed device's go; the destructor does it too.
    void Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform

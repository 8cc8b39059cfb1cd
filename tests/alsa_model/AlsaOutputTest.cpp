// Our ALSA sequencer output against the stand-in for alsa-lib.
#include "platform/rtmidi/AlsaOutput.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

#include "AlsaModel.h"

// The backend's hook for the system's own texts, which this program links without.
bool platform::detail::SystemErrorText(unsigned, std::string&) {
    return false;
}

namespace {

using platform::detail::AlsaOutput;

std::string NameOf(int client) {
    return "UM-ONE:UM-ONE MIDI 1 " + std::to_string(client) + ":0";
}

// A message split at every piece size leaves as one SysEx event a piece, in order, and joins
// back to the same bytes; a whole message is one event.
TEST(AlsaOutput, EachPieceIsASysExEventOfItsOwnInOrder) {
    alsa_model::Reset();
    const int unit = alsa_model::AddDestination("UM-ONE", "UM-ONE MIDI 1");
    std::vector<uint8_t> message(528);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<uint8_t>(i * 5 % 128);
    message.front() = 0xF0;
    message.back() = 0xF7;
    {
        AlsaOutput out(NameOf(unit));
        std::size_t events = 0;
        for (std::size_t piece = 1; piece <= message.size(); ++piece) {
            for (std::size_t at = 0; at < message.size(); at += piece) {
                const std::size_t n = std::min(piece, message.size() - at);
                ASSERT_FALSE(out.Send(message.data() + at, n)) << piece;
                ++events;
            }
        }
        const auto got = alsa_model::ReceivedBy(unit, 0);
        ASSERT_EQ(got.size(), events);
        std::size_t k = 0;
        for (std::size_t piece = 1; piece <= message.size(); ++piece) {
            std::vector<uint8_t> joined;
            for (std::size_t at = 0; at < message.size(); at += piece, ++k) {
                ASSERT_EQ(got[k].type, SND_SEQ_EVENT_SYSEX);
                ASSERT_EQ(got[k].data.size(), std::min(piece, message.size() - at)) << piece;
                joined.insert(joined.end(), got[k].data.begin(), got[k].data.end());
            }
            ASSERT_EQ(joined, message) << piece;
        }
        EXPECT_EQ(alsa_model::ClientName(got.front().source_client), "vantro-assistant-out");
    }
    EXPECT_EQ(alsa_model::OpenHandles(), 0);
}

// What the sequencer refuses is a port failure with its text, naming the port; a port that
// is not there, or a name without an address, does not open.
TEST(AlsaOutput, RefusalsCarryTheSystemsText) {
    alsa_model::Reset();
    const int unit = alsa_model::AddDestination("UM-ONE", "UM-ONE MIDI 1");
    {
        AlsaOutput out(NameOf(unit));
        const uint8_t request[] = {0xF0, 0x00, 0x01, 0x02, 0xF7};
        alsa_model::FailNextOutput(-ENOMEM);
        const auto failed = out.Send(request, sizeof request);
        ASSERT_TRUE(failed);
        EXPECT_NE(failed.text.find(NameOf(unit)), std::string::npos) << failed.text;
        EXPECT_NE(failed.text.find(snd_strerror(-ENOMEM)), std::string::npos) << failed.text;
        EXPECT_FALSE(out.Send(request, sizeof request));
    }
    EXPECT_THROW(AlsaOutput(NameOf(200)), std::runtime_error);  // no client 200
    EXPECT_THROW(AlsaOutput("UM-ONE:UM-ONE MIDI 1"), std::runtime_error);
    EXPECT_EQ(alsa_model::OpenHandles(), 0);
}

}  // namespace

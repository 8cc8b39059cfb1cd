// The ALSA stand-in as a program written for libasound uses it: the calls and macros of the real
// headers, the answers the real library and kernel give.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "AlsaModel.h"

namespace {

constexpr unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned kPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
constexpr int kEventBytes = static_cast<int>(sizeof(snd_seq_event_t));

class AlsaModel : public testing::Test {
  protected:
    void SetUp() override { alsa_model::Reset(); }
    void TearDown() override { alsa_model::Reset(); }

    // A SysEx event from our port 0 to its subscribers.
    static snd_seq_event_t sysex(unsigned char* bytes, unsigned length) {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, 0);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_sysex(&ev, length, bytes);
        return ev;
    }
};

TEST_F(AlsaModel, DeliversSysExPiecesAndANoteToTheSubscriberInOrder) {
    const int dest = alsa_model::AddDestination("VANTRO", "VANTRO MIDI 1");
    EXPECT_GE(dest, 128);

    snd_seq_t* seq = nullptr;
    ASSERT_EQ(snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK), 0);
    EXPECT_EQ(alsa_model::OpenHandles(), 1);
    ASSERT_EQ(snd_seq_set_client_name(seq, "Assistant"), 0);
    const int me = snd_seq_client_id(seq);
    EXPECT_EQ(alsa_model::ClientName(me), "Assistant");
    ASSERT_EQ(snd_seq_create_simple_port(seq, "out", kReadable, kPortType), 0);
    ASSERT_EQ(snd_seq_connect_to(seq, 0, dest, 0), 0);

    // Three pieces through one buffer, overwritten as soon as each is out.
    const std::vector<unsigned char> message = {0xf0, 0x00, 0x21, 0x7e, 0x01, 0x02, 0x03,
                                                0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xf7};
    const std::array<unsigned, 3> pieces = {4, 6, 4};
    std::array<unsigned char, 8> buffer{};
    unsigned offset = 0;
    for (unsigned length : pieces) {
        std::memcpy(buffer.data(), message.data() + offset, length);
        snd_seq_event_t ev = sysex(buffer.data(), length);
        EXPECT_EQ(snd_seq_event_output_direct(seq, &ev), kEventBytes + static_cast<int>(length));
        buffer.fill(0xee);
        offset += length;
    }

    snd_midi_event_t* encoder = nullptr;
    ASSERT_EQ(snd_midi_event_new(256, &encoder), 0);
    const unsigned char noteOn[] = {0x91, 0x3c, 0x64};
    snd_seq_event_t note;
    snd_seq_ev_clear(&note);
    EXPECT_EQ(snd_midi_event_encode(encoder, noteOn, 2, &note), 2);
    EXPECT_EQ(note.type, SND_SEQ_EVENT_NONE);
    EXPECT_EQ(snd_midi_event_encode(encoder, noteOn + 2, 1, &note), 1);
    EXPECT_EQ(note.type, SND_SEQ_EVENT_NOTEON);
    // Running status: data bytes alone make another note-on.
    const unsigned char again[] = {0x3e, 0x00};
    snd_seq_event_t second;
    EXPECT_EQ(snd_midi_event_encode(encoder, again, 2, &second), 2);
    EXPECT_EQ(second.type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(second.data.note.note, 0x3e);
    snd_midi_event_free(encoder);
    snd_seq_ev_set_source(&note, 0);
    snd_seq_ev_set_subs(&note);
    snd_seq_ev_set_direct(&note);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &note), kEventBytes);

    const auto got = alsa_model::ReceivedBy(dest, 0);
    ASSERT_EQ(got.size(), 4u);
    std::vector<unsigned char> joined;
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].type, SND_SEQ_EVENT_SYSEX);
        EXPECT_EQ(got[i].data.size(), pieces[i]);
        joined.insert(joined.end(), got[i].data.begin(), got[i].data.end());
    }
    EXPECT_EQ(joined, message);
    EXPECT_EQ(got[3].type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(got[3].data, std::vector<uint8_t>(noteOn, noteOn + 3));
    EXPECT_EQ(got[3].source_client, me);
    EXPECT_EQ(got[3].source_port, 0);

    // A failing write, and the text for its error.
    alsa_model::FailNextOutput(-EIO);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &note), -EIO);
    EXPECT_STREQ(snd_strerror(-EIO), std::strerror(EIO));
    EXPECT_EQ(alsa_model::ReceivedBy(dest, 0).size(), 4u);

    // The destination goes: its subscription with it, its address with nothing behind.
    alsa_model::RemoveClient(dest);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &note), kEventBytes);
    snd_seq_ev_set_dest(&note, dest, 0);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &note), -ENOENT);

    EXPECT_EQ(snd_seq_close(seq), 0);
    EXPECT_EQ(alsa_model::OpenHandles(), 0);
}

TEST_F(AlsaModel, RefusesWhatTheSequencerRefuses) {
    const int dest = alsa_model::AddDestination("VANTRO", "VANTRO MIDI 1");
    snd_seq_t* seq = nullptr;
    ASSERT_EQ(snd_seq_open(&seq, "nosuchdevice", SND_SEQ_OPEN_OUTPUT, 0), -ENOENT);
    ASSERT_EQ(snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    ASSERT_EQ(snd_seq_create_simple_port(seq, "out", kReadable, kPortType), 0);

    // Only a port that takes writes and subscriptions can be subscribed to.
    EXPECT_EQ(snd_seq_connect_to(seq, 0, dest + 50, 0), -EINVAL);
    snd_seq_t* other = nullptr;
    ASSERT_EQ(snd_seq_open(&other, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    ASSERT_EQ(snd_seq_create_simple_port(other, "read only", kReadable, kPortType), 0);
    EXPECT_EQ(snd_seq_connect_to(seq, 0, snd_seq_client_id(other), 0), -EPERM);
    snd_seq_event_t toOther = sysex(nullptr, 0);
    snd_seq_ev_set_dest(&toOther, snd_seq_client_id(other), 0);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &toOther), -EPERM);
    EXPECT_EQ(snd_seq_close(other), 0);
    ASSERT_EQ(snd_seq_connect_to(seq, 0, dest, 0), 0);

    // As much SysEx as a receiving client's pool holds, and no more; an empty one goes through.
    std::vector<unsigned char> big(alsa_model::kMaxVariableBytes + 1, 0x11);
    snd_seq_event_t ev = sysex(big.data(), static_cast<unsigned>(big.size()));
    EXPECT_EQ(snd_seq_event_output_direct(seq, &ev), -ENOMEM);
    ev = sysex(big.data(), alsa_model::kMaxVariableBytes);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &ev),
              kEventBytes + static_cast<int>(alsa_model::kMaxVariableBytes));
    ev = sysex(big.data(), 0);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &ev), kEventBytes);
    ev = sysex(big.data(), 0x3fffffff);
    EXPECT_EQ(snd_seq_event_output_direct(seq, &ev), -EINVAL);

    // Without snd_seq_ev_set_direct the event is for queue 0, which was never made.
    ev = sysex(big.data(), 4);
    ev.queue = 0;
    EXPECT_EQ(snd_seq_event_output_direct(seq, &ev), -EINVAL);

    const auto got = alsa_model::ReceivedBy(dest, 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data.size(), alsa_model::kMaxVariableBytes);
    EXPECT_TRUE(got[1].data.empty());

    EXPECT_EQ(snd_seq_close(seq), 0);
    EXPECT_EQ(alsa_model::OpenHandles(), 0);
}

}  // namespace

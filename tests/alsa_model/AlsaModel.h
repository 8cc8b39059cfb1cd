// A stand-in for the sequencer part of alsa-lib (libasound), for test programs: they link
// alsa_model instead of -lasound and see no real device. Clients, ports, subscriptions and
// deliveries live in this process, behind one mutex. The functions below arrange what the
// programs under test find there and read back what reached the other side.
//
// What the stand-in does as the real library and kernel do (see AlsaModel.cpp for more):
// - Client numbers are handed out from 128 up, the lowest free one first; ports of a client
//   from 0 up, the same way.
// - snd_seq_event_output_direct returns the bytes it wrote: sizeof(snd_seq_event_t), plus
//   data.ext.len for a variable-length event. An event that reaches no one through
//   SND_SEQ_ADDRESS_SUBSCRIBERS still succeeds.
// - A variable-length event of more than kMaxVariableBytes is refused with -ENOMEM, as the
//   kernel refuses one that does not fit a receiving client's default input pool; one of
//   0x3fffffff bytes or more with -EINVAL. One of 0 bytes is delivered, empty, as the kernel does.
#pragma once

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace alsa_model {

// A receiving client's input pool holds 200 cells of one event each; the event itself takes one
// and its data the rest.
constexpr std::size_t kMaxVariableBytes = (200 - 1) * sizeof(snd_seq_event_t);

// Adds a client named clientName with one port (0), named portName, that others may write to and
// subscribe to; it keeps what it receives. Returns its client number.
int AddDestination(const std::string& clientName, const std::string& portName);

struct Received {
    int type;  // SND_SEQ_EVENT_...
    // SYSEX: the event's bytes. Channel and system events: their MIDI bytes, status first.
    std::vector<uint8_t> data;
    int source_client;
    int source_port;
    snd_seq_event_t event;  // as delivered; data.ext.ptr cleared
};

// What reached the port, in order; empty for a port that never was. Kept after the client goes,
// until its number is given to a new client or Reset.
std::vector<Received> ReceivedBy(int client, int port);

// The client's name ("" when there is no such client): Client-N until snd_seq_set_client_name.
std::string ClientName(int client);

// The destination vanishes, as when its device is unplugged: its ports and every subscription
// to them go. Direct output to it then fails with -ENOENT; output to SND_SEQ_ADDRESS_SUBSCRIBERS
// reaches no one and succeeds. A client of an open snd_seq_t is left alone: close it instead.
void RemoveClient(int client);

// The next write to the sequencer (snd_seq_event_output_direct, or the one of
// snd_seq_drain_output) fails with negativeErrno and delivers nothing.
void FailNextOutput(int negativeErrno);

// How many snd_seq_t are open.
int OpenHandles();

// Back to nothing: every client, subscription and record goes, and OpenHandles() is 0. A handle
// still open answers -EBADFD from then on, except snd_seq_close, which frees it.
void Reset();

}  // namespace alsa_model

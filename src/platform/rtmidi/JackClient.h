#pragma once
// What our own JACK input and output share: a client with one MIDI port.

#include <jack/jack.h>

#include <stdexcept>
#include <string>

namespace platform::detail {

// Opens a client with one MIDI port of the given direction (JackPortIsInput, JackPortIsOutput);
// throws std::runtime_error when the server does not answer. port is null when it cannot be
// registered.
inline jack_client_t* OpenJackClient(const std::string& clientName, const std::string& portName,
                                     unsigned long direction, jack_port_t*& port) {
    jack_status_t status;
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        throw std::runtime_error("the JACK server does not answer");
    }
    port = jack_port_register(client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, direction, 0);
    return client;
}

// Deactivates (JACK waits for the process callback to end for good), then closes.
inline void CloseJackClient(jack_client_t*& client) {
    if (client != nullptr) {
        jack_deactivate(client);
        jack_client_close(client);
        client = nullptr;
    }
}

}  // namespace platform::detail

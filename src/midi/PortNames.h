#pragma once

#include "platform/MidiSeam.h"

namespace midi {

// Calls each(position, product name) for every port of the kind that port (a closed port
// object) counts, in device order, as the dialog's lists and vantro-cli's listing query them.
// A failing capability query throws the port's exception, after the ports before it.
template <typename Caps, typename Port, typename Each>
void ForEachPortName(const Port& port, Each each) {
    const mm::UINT count = port.PortCount();
    for (mm::UINT i = 0; i < count; ++i) {
        Caps caps{};
        port.GetPortCaps(i, caps);
        each(i, static_cast<const char*>(caps.szPname));
    }
}

}  // namespace midi

// The winmm-shaped functions (namespace mm), served by our own MIDI system: the device lists
// are the system backend's ports (rtmidi/ or winmm/), then the in-process virtual ports
// (virtual/), all behind the contract of RealBackend.h; the handles are MidiHandles.h's.

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/MidiHandles.h"
#include "platform/MidiSeam.h"
#include "platform/RealBackend.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace platform {

using detail::InHandle;
using detail::OutHandle;

namespace {

// ---- the registry of ports and handles ------------------------------------------------------

// A port of the lists: the system's first, then the in-process ones.
struct Device {
    detail::RealPort port;
    bool isVirtual;
};

// One direction's open handles, and the ports they have open (a port opens once).
template <typename Handle>
struct Opened {
    std::map<uintptr_t, std::shared_ptr<Handle>> handles;
    std::set<std::string> ports;
};

class Registry {
  public:
    static Registry& Get() {
        static Registry registry;
        return registry;
    }

    std::mutex mutex;
    Opened<InHandle> inputs;
    Opened<OutHandle> outputs;
    uintptr_t nextId = 1;

    template <typename Side>
    std::vector<Device> Devices() {
        std::vector<Device> devices;
        for (auto& p : Side::SystemPorts())
            devices.push_back(Device{std::move(p), false});
        for (auto& p : Side::VirtualPorts())
            devices.push_back(Device{std::move(p), true});
        return devices;
    }

    template <typename Side>
    std::shared_ptr<typename Side::Handle> Find(typename Side::Hmidi h) {
        std::lock_guard lock(mutex);
        const auto& handles = Side::Of(*this).handles;
        auto it = handles.find(reinterpret_cast<uintptr_t>(h));
        return it == handles.end() ? nullptr : it->second;
    }
};

// What the two directions differ in.
struct InputSide {
    using Handle = InHandle;
    using Hmidi = HMIDIIN;  // the winmm-shaped handle
    static Opened<InHandle>& Of(Registry& r) { return r.inputs; }
    static std::vector<detail::RealPort> SystemPorts() { return detail::RealInputPorts(); }
    static std::vector<detail::RealPort> VirtualPorts() { return detail::virtual_ports::Inputs(); }
    static MMRESULT OpenPort(const Device& d, InHandle& h) {
        return d.isVirtual ? detail::virtual_ports::OpenInput(d.port.id, h, h.real)
                           : detail::OpenRealInput(d.port.id, h, h.real);
    }
};

struct OutputSide {
    using Handle = OutHandle;
    using Hmidi = HMIDIOUT;
    static Opened<OutHandle>& Of(Registry& r) { return r.outputs; }
    static std::vector<detail::RealPort> SystemPorts() { return detail::RealOutputPorts(); }
    static std::vector<detail::RealPort> VirtualPorts() { return detail::virtual_ports::Outputs(); }
    static MMRESULT OpenPort(const Device& d, OutHandle& h) {
        return d.isVirtual ? detail::virtual_ports::OpenOutput(d.port.id, h, h.real)
                           : detail::OpenRealOutput(d.port.id, h, h.real);
    }
};

void FillName(CHAR (&target)[MAXPNAMELEN], const std::string& name) {
    std::memset(target, 0, sizeof target);
    std::memcpy(target, name.data(), std::min<std::size_t>(name.size(), MAXPNAMELEN - 1));
}

bool ValidOpenFlags(DWORD flags) {
    return flags == CALLBACK_FUNCTION || flags == CALLBACK_NULL;
}

template <typename Side, typename Caps>
MMRESULT GetDevCaps(UINT_PTR deviceId, Caps* caps, UINT size) {
    if (caps == nullptr || size < sizeof(Caps))
        return MMSYSERR_INVALPARAM;
    const auto devices = Registry::Get().Devices<Side>();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    const detail::RealPort& port = devices[deviceId].port;
    if (const MMRESULT error = port.capsError)
        return error;
    std::memset(caps, 0, sizeof *caps);
    FillName(caps->szPname, port.name);
    return MMSYSERR_NOERROR;
}

template <typename Side>
MMRESULT Open(typename Side::Hmidi* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
              DWORD flags) {
    if (handle == nullptr)
        return MMSYSERR_INVALPARAM;
    if (!ValidOpenFlags(flags))
        return MMSYSERR_INVALFLAG;
    auto& r = Registry::Get();
    const auto devices = r.Devices<Side>();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;

    using Handle = typename Side::Handle;
    std::shared_ptr<Handle> h;
    {
        std::lock_guard lock(r.mutex);
        const auto proc = flags == CALLBACK_FUNCTION
                              ? reinterpret_cast<typename Handle::Proc>(callback)
                              : nullptr;
        h = std::make_shared<Handle>(r.nextId++, proc, instance);
    }
    const auto& device = devices[deviceId];
    const std::string key = (device.isVirtual ? "virtual:" : "system:") + device.port.id;
    {
        std::lock_guard lock(r.mutex);
        if (!Side::Of(r).ports.insert(key).second)
            return MMSYSERR_ALLOCATED;
    }
    const MMRESULT result = Side::OpenPort(device, *h);
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard lock(r.mutex);
        Side::Of(r).ports.erase(key);
        return result;
    }
    h->realId = key;
    h->StartThread();
    {
        std::lock_guard lock(r.mutex);
        Side::Of(r).handles[h->Id()] = h;
    }
    *handle = reinterpret_cast<typename Side::Hmidi>(h->Id());
    return MMSYSERR_NOERROR;
}

template <typename Side>
MMRESULT Close(typename Side::Hmidi handle) {
    auto h = Registry::Get().Find<Side>(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (h->HoldsHeaders())
        return MIDIERR_STILLPLAYING;
    {
        auto& r = Registry::Get();
        std::lock_guard lock(r.mutex);
        Side::Of(r).handles.erase(h->Id());
        if (!h->realId.empty())
            Side::Of(r).ports.erase(h->realId);
    }
    h->Close();
    return MMSYSERR_NOERROR;
}

// op(handle object) for a handle that is one.
template <typename Side, typename Op>
MMRESULT WithHandle(typename Side::Hmidi handle, Op op) {
    auto h = Registry::Get().Find<Side>(handle);
    return h ? std::invoke(op, *h) : MMSYSERR_INVALHANDLE;
}

// op(handle object, header) for a handle that is one and a header that is whole.
template <typename Side, typename Op>
MMRESULT WithHeader(typename Side::Hmidi handle, LPMIDIHDR header, UINT size, Op op) {
    return WithHandle<Side>(handle, [&](typename Side::Handle& h) {
        if (header == nullptr || size < sizeof(MIDIHDR))
            return MMSYSERR_INVALPARAM;
        return std::invoke(op, h, header);
    });
}

}  // namespace
}  // namespace platform

// ---- the winmm-shaped functions ---------------------------------------------------------------

namespace mm {

using platform::InputSide;
using platform::OutputSide;
using platform::Registry;
using platform::detail::InHandle;
using platform::detail::OutHandle;

UINT midiInGetNumDevs() {
    return static_cast<UINT>(Registry::Get().Devices<InputSide>().size());
}

UINT midiOutGetNumDevs() {
    return static_cast<UINT>(Registry::Get().Devices<OutputSide>().size());
}

MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT size) {
    return platform::GetDevCaps<InputSide>(deviceId, caps, size);
}

MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT size) {
    const MMRESULT result = platform::GetDevCaps<OutputSide>(deviceId, caps, size);
    if (result == MMSYSERR_NOERROR) {
        caps->wTechnology = 1;  // a hardware port
        caps->wChannelMask = 0xFFFF;
    }
    return result;
}

MMRESULT midiInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    return platform::detail::GetErrorText(error, text, size);
}

MMRESULT midiOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    return platform::detail::GetErrorText(error, text, size);
}

MMRESULT midiInOpen(LPHMIDIIN handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags) {
    return platform::Open<InputSide>(handle, deviceId, callback, instance, flags);
}

MMRESULT midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags) {
    return platform::Open<OutputSide>(handle, deviceId, callback, instance, flags);
}

MMRESULT midiInClose(HMIDIIN handle) {
    return platform::Close<InputSide>(handle);
}

MMRESULT midiOutClose(HMIDIOUT handle) {
    return platform::Close<OutputSide>(handle);
}

MMRESULT midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::WithHeader<InputSide>(handle, header, size, &InHandle::Prepare);
}

MMRESULT midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::WithHeader<OutputSide>(handle, header, size, &OutHandle::Prepare);
}

MMRESULT midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::WithHeader<InputSide>(handle, header, size, &InHandle::Unprepare);
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::WithHeader<OutputSide>(handle, header, size, &OutHandle::Unprepare);
}

MMRESULT midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::WithHeader<InputSide>(handle, header, size, &InHandle::AddBuffer);
}

MMRESULT midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::WithHeader<OutputSide>(handle, header, size, &OutHandle::LongMsg);
}

MMRESULT midiInStart(HMIDIIN handle) {
    return platform::WithHandle<InputSide>(handle, &InHandle::Start);
}

MMRESULT midiInStop(HMIDIIN handle) {
    return platform::WithHandle<InputSide>(handle, &InHandle::Stop);
}

MMRESULT midiInReset(HMIDIIN handle) {
    return platform::WithHandle<InputSide>(handle, &InHandle::Reset);
}

MMRESULT midiOutReset(HMIDIOUT handle) {
    return platform::WithHandle<OutputSide>(handle, &OutHandle::Reset);
}

}  // namespace mm

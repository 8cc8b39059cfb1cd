// The winmm-shaped functions (namespace mm), served by our own MIDI system: the device lists
// are the system backend's ports (rtmidi/ or winmm/), then the in-process virtual ports
// (virtual/), all behind the contract of RealBackend.h; the handles are MidiHandles.h's.

#include <algorithm>
#include <cstring>
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

using detail::Flags;
using detail::InHandle;
using detail::OutHandle;
using detail::SetFlags;

namespace {

// ---- the registry of ports and handles ------------------------------------------------------

// A port of the lists: the system's first, then the in-process ones.
struct Device {
    detail::RealPort port;
    bool isVirtual;
};
using InputDevice = Device;
using OutputDevice = Device;

class Registry {
  public:
    static Registry& Get() {
        static Registry registry;
        return registry;
    }

    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<InHandle>> inputs;
    std::map<uintptr_t, std::shared_ptr<OutHandle>> outputs;
    std::set<std::string> openRealInputs;
    std::set<std::string> openRealOutputs;
    uintptr_t nextId = 1;

    std::vector<InputDevice> InputDevices() {
        std::vector<InputDevice> devices;
        for (auto& p : detail::RealInputPorts())
            devices.push_back(Device{std::move(p), false});
        for (auto& p : detail::virtual_ports::Inputs())
            devices.push_back(Device{std::move(p), true});
        return devices;
    }

    std::vector<OutputDevice> OutputDevices() {
        std::vector<OutputDevice> devices;
        for (auto& p : detail::RealOutputPorts())
            devices.push_back(Device{std::move(p), false});
        for (auto& p : detail::virtual_ports::Outputs())
            devices.push_back(Device{std::move(p), true});
        return devices;
    }

    std::shared_ptr<InHandle> FindInput(HMIDIIN h) {
        std::lock_guard lock(mutex);
        auto it = inputs.find(reinterpret_cast<uintptr_t>(h));
        return it == inputs.end() ? nullptr : it->second;
    }

    std::shared_ptr<OutHandle> FindOutput(HMIDIOUT h) {
        std::lock_guard lock(mutex);
        auto it = outputs.find(reinterpret_cast<uintptr_t>(h));
        return it == outputs.end() ? nullptr : it->second;
    }
};

std::string NameOf(const Device& d) {
    return d.port.name;
}

MMRESULT CapsErrorOf(const Device& d) {
    return d.port.capsError;
}

void FillName(CHAR (&target)[MAXPNAMELEN], const std::string& name) {
    std::memset(target, 0, sizeof target);
    std::memcpy(target, name.data(), std::min<std::size_t>(name.size(), MAXPNAMELEN - 1));
}

bool ValidOpenFlags(DWORD flags) {
    return flags == CALLBACK_FUNCTION || flags == CALLBACK_NULL;
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

MMRESULT Prepare(bool validHandle, LPMIDIHDR header, UINT size) {
    if (!validHandle)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    SetFlags(header, MHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT Unprepare(bool validHandle, LPMIDIHDR header, UINT size) {
    if (!validHandle)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (Flags(header) & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    SetFlags(header, 0, MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

// What opening differs in between the two directions.
struct InputSide {
    using Handle = InHandle;
    using Proc = MidiInProc;
    static std::vector<InputDevice> Devices(Registry& r) { return r.InputDevices(); }
    static std::set<std::string>& OpenReal(Registry& r) { return r.openRealInputs; }
    static std::map<uintptr_t, std::shared_ptr<InHandle>>& Handles(Registry& r) { return r.inputs; }
    static MMRESULT OpenPort(const Device& d, InHandle& h) {
        return d.isVirtual ? detail::virtual_ports::OpenInput(d.port.id, h, h.real)
                           : detail::OpenRealInput(d.port.id, h, h.real);
    }
};

struct OutputSide {
    using Handle = OutHandle;
    using Proc = MidiOutProc;
    static std::vector<OutputDevice> Devices(Registry& r) { return r.OutputDevices(); }
    static std::set<std::string>& OpenReal(Registry& r) { return r.openRealOutputs; }
    static std::map<uintptr_t, std::shared_ptr<OutHandle>>& Handles(Registry& r) {
        return r.outputs;
    }
    static MMRESULT OpenPort(const Device& d, OutHandle& h) {
        return d.isVirtual ? detail::virtual_ports::OpenOutput(d.port.id, h.real)
                           : detail::OpenRealOutput(d.port.id, h.real);
    }
};

template <typename Side, typename HandleOut>
MMRESULT Open(HandleOut* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
              DWORD flags) {
    if (handle == nullptr)
        return MMSYSERR_INVALPARAM;
    if (!ValidOpenFlags(flags))
        return MMSYSERR_INVALFLAG;
    auto& r = Registry::Get();
    const auto devices = Side::Devices(r);
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;

    std::shared_ptr<typename Side::Handle> h;
    {
        std::lock_guard lock(r.mutex);
        const auto proc =
            flags == CALLBACK_FUNCTION ? reinterpret_cast<typename Side::Proc>(callback) : nullptr;
        h = std::make_shared<typename Side::Handle>(r.nextId++, proc, instance);
    }
    const auto& device = devices[deviceId];
    const std::string key = (device.isVirtual ? "virtual:" : "system:") + device.port.id;
    {
        std::lock_guard lock(r.mutex);
        if (!Side::OpenReal(r).insert(key).second)
            return MMSYSERR_ALLOCATED;
    }
    const MMRESULT result = Side::OpenPort(device, *h);
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard lock(r.mutex);
        Side::OpenReal(r).erase(key);
        return result;
    }
    h->realId = key;
    h->StartThread();
    {
        std::lock_guard lock(r.mutex);
        Side::Handles(r)[h->Id()] = h;
    }
    *handle = reinterpret_cast<HandleOut>(h->Id());
    return MMSYSERR_NOERROR;
}

// Forgets the handle; its source and thread are stopped by the caller.
template <typename Side>
void Unregister(typename Side::Handle& h) {
    auto& r = Registry::Get();
    std::lock_guard lock(r.mutex);
    Side::Handles(r).erase(h.Id());
    if (!h.realId.empty())
        Side::OpenReal(r).erase(h.realId);
}

}  // namespace
}  // namespace platform

// ---- the winmm-shaped functions ---------------------------------------------------------------

namespace mm {

using platform::Registry;

UINT midiInGetNumDevs() {
    return static_cast<UINT>(Registry::Get().InputDevices().size());
}

UINT midiOutGetNumDevs() {
    return static_cast<UINT>(Registry::Get().OutputDevices().size());
}

MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT size) {
    if (caps == nullptr || size < sizeof(MIDIINCAPSA))
        return MMSYSERR_INVALPARAM;
    const auto devices = Registry::Get().InputDevices();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    if (const MMRESULT error = platform::CapsErrorOf(devices[deviceId]))
        return error;
    std::memset(caps, 0, sizeof *caps);
    platform::FillName(caps->szPname, platform::NameOf(devices[deviceId]));
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT size) {
    if (caps == nullptr || size < sizeof(MIDIOUTCAPSA))
        return MMSYSERR_INVALPARAM;
    const auto devices = Registry::Get().OutputDevices();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    if (const MMRESULT error = platform::CapsErrorOf(devices[deviceId]))
        return error;
    std::memset(caps, 0, sizeof *caps);
    platform::FillName(caps->szPname, platform::NameOf(devices[deviceId]));
    caps->wTechnology = 1;  // a hardware port
    caps->wChannelMask = 0xFFFF;
    return MMSYSERR_NOERROR;
}

MMRESULT midiInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    return platform::detail::GetErrorText(error, text, size);
}

MMRESULT midiOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    return platform::detail::GetErrorText(error, text, size);
}

MMRESULT midiInOpen(LPHMIDIIN handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags) {
    return platform::Open<platform::InputSide>(handle, deviceId, callback, instance, flags);
}

MMRESULT midiInClose(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (h->HasBuffers())
        return MIDIERR_STILLPLAYING;
    platform::Unregister<platform::InputSide>(*h);
    // Stop the source first: nothing may be delivered into a handle that is going.
    h->real.reset();
    h->StopThread();
    return MMSYSERR_NOERROR;
}

MMRESULT midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::Prepare(Registry::Get().FindInput(handle) != nullptr, header, size);
}

MMRESULT midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::Unprepare(Registry::Get().FindInput(handle) != nullptr, header, size);
}

MMRESULT midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    auto h = Registry::Get().FindInput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    return h->AddBuffer(header);
}

MMRESULT midiInStart(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    return h ? h->Start() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInStop(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    return h ? h->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInReset(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    return h ? h->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags) {
    return platform::Open<platform::OutputSide>(handle, deviceId, callback, instance, flags);
}

MMRESULT midiOutClose(HMIDIOUT handle) {
    auto h = Registry::Get().FindOutput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (h->Busy())
        return MIDIERR_STILLPLAYING;
    platform::Unregister<platform::OutputSide>(*h);
    h->StopThread();
    h->real.reset();
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::Prepare(Registry::Get().FindOutput(handle) != nullptr, header, size);
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::Unprepare(Registry::Get().FindOutput(handle) != nullptr, header, size);
}

MMRESULT midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    auto h = Registry::Get().FindOutput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    return h->LongMsg(header);
}

MMRESULT midiOutReset(HMIDIOUT handle) {
    auto h = Registry::Get().FindOutput(handle);
    return h ? h->Reset() : MMSYSERR_INVALHANDLE;
}

}  // namespace mm

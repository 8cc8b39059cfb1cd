// A stand-in for the MIDI part of the Windows multimedia API (winmm.dll), written from Microsoft's
// documentation of it, so that the winmm backend runs under Wine against devices that a test
// controls (WinmmModelControl.h). Where the documentation is silent it does what a typical driver
// does, and says so where it chooses.
//
// One driver thread of its own makes every callback, in the order the events happened, and
// paces the bytes on each device's wire. The calls that hand buffers back (midiInStop,
// midiInReset, midiOutReset) and open and close return only once their callbacks have been made,
// so nothing reaches the caller after close has returned.
//
// It checks its caller where Windows would fail late or not at all: each header it holds is
// looked at before the driver reads or writes it, and one the application freed, reused or
// changed meanwhile is a violation (and is then left alone).
#include <windows.h>
// After windows.h, which they need.
#include <mmreg.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "WinmmModelControl.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a caller waits for the driver thread to make the callbacks it is owed. Only a
// callback that blocks runs into it.
constexpr auto kCallbackBound = 20s;

enum class Kind { In = WINMM_MODEL_INPUT, Out = WINMM_MODEL_OUTPUT };

using Callback = void(CALLBACK*)(HANDLE, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// Data bytes after a status byte; 0 for the ones that stand alone.
unsigned dataBytes(unsigned char status) {
    if (status < 0xF0) {
        return (status & 0xE0) == 0xC0 ? 1 : 2;  // program change and channel pressure: one
    }
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        default:
            return 0;
    }
}

struct Handle;

// A message on an output's wire: a long one (header) or a short one (bytes).
struct Leaving {
    uintptr_t handle = 0;
    MIDIHDR* header = nullptr;
    std::vector<unsigned char> bytes;
    Clock::time_point start, end;
};

struct Device {
    Kind kind = Kind::In;
    std::string name;
    bool synth = false;
    bool removed = false;
    unsigned lastId = 0;          // its ID when it was removed
    bool silentRemoval = true;    // removed, its driver makes no callback any more
    bool idAfterRemoval = false;  // removed, its handle still answers midiInGetID/midiOutGetID
    unsigned baud = 31250;
    unsigned piece = 0;
    WinmmModelSink sink = nullptr;
    void* sinkContext = nullptr;
    MMRESULT failOpen = MMSYSERR_NOERROR;
    unsigned failLongCount = 0;
    MMRESULT failLongCode = MMSYSERR_NOERROR;
    unsigned cable = 0;           // output: its cable's buffer in bytes (0: no cable)
    unsigned long long lost = 0;  // input: bytes nobody took; output: bytes its cable dropped
    unsigned holdAfterReset = 0;  // ms; WINMM_MODEL_HOLD_UNTIL_RELEASED: until released
    Handle* open = nullptr;
    std::deque<unsigned char> arriving;  // input: the front one arrives at nextArrival
    Clock::time_point nextArrival;
    std::deque<Leaving> leaving;  // output: in the order they go out
    Clock::time_point wireFree;

    bool silent() const { return removed && silentRemoval; }

    Clock::duration byteTime() const {
        // A start bit, eight data bits and a stop bit.
        return baud ? std::chrono::duration_cast<Clock::duration>(10'000'000'000ns / baud)
                    : Clock::duration::zero();
    }

    // Bytes in a cable's buffer at `now`: each stays until its last bit is on the wire.
    size_t cableHeld(Clock::time_point now) const {
        Clock::duration each = byteTime();
        if (!each.count() || wireFree <= now) {
            return 0;
        }
        return size_t((wireFree - now + each - Clock::duration(1)) / each);
    }
};

struct Handle {
    uintptr_t value = 0;
    Kind kind = Kind::In;
    std::shared_ptr<Device> device;
    DWORD type = CALLBACK_NULL;
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    bool closing = false;
    std::deque<MIDIHDR*> buffers;  // the driver holds these: queued input, or output not yet done
    unsigned returning = 0;        // handed back, their callback not yet made
    // Kept past a reset, still marked in the queue, each with its callback's time stamp.
    std::deque<std::pair<MIDIHDR*, DWORD>> held;
    Clock::time_point releaseAt = Clock::time_point::max();

    // Input.
    bool started = false;
    Clock::time_point startTime;
    bool inSysex = false;
    unsigned sysexBytes = 0;  // of the SysEx message being read, kept or not
    DWORD bufferStamp = 0;
    unsigned char status = 0;  // of the short message being read, or the running status
    unsigned char data[2] = {};
    unsigned have = 0;
    DWORD messageStamp = 0;

    // Output.
    unsigned char runningOut = 0;
};

// A callback to make, or bytes for an output's sink, in the order they fell due.
struct Notice {
    uint64_t seq = 0;
    uintptr_t handle = 0;
    UINT message = 0;
    DWORD_PTR param1 = 0;
    DWORD_PTR param2 = 0;
    MIDIHDR* header = nullptr;  // marked done as its callback is made
    std::shared_ptr<Device> sinkDevice;
    std::vector<unsigned char> bytes;
};

thread_local bool tlInCallback = false;

const char* errorText(MMRESULT code) {
    // Windows' own texts. The registry codes (MMSYSERR_HANDLEBUSY to MMSYSERR_MOREDATA) and
    // MIDIERR_BADOPENMODE/MIDIERR_DONT_CONTINUE are left out: no MIDI function here returns them.
    switch (code) {
        case MMSYSERR_NOERROR:
            return "The specified command was carried out.";
        case MMSYSERR_ERROR:
            return "Undefined external error.";
        case MMSYSERR_BADDEVICEID:
            return "A device ID has been used that is out of range for your system.";
        case MMSYSERR_NOTENABLED:
            return "The driver was not enabled.";
        case MMSYSERR_ALLOCATED:
            return "The specified device is already in use. Wait until it is free, and then try "
                   "again.";
        case MMSYSERR_INVALHANDLE:
            return "The specified device handle is invalid.";
        case MMSYSERR_NODRIVER:
            return "There is no driver installed on your system.";
        case MMSYSERR_NOMEM:
            return "There is not enough memory available for this task. Quit one or more "
                   "applications to increase available memory, and then try again.";
        case MMSYSERR_NOTSUPPORTED:
            return "This function is not supported. Use the Capabilities function to determine "
                   "which functions and messages the driver supports.";
        case MMSYSERR_BADERRNUM:
            return "An error number was specified that is not defined in the system.";
        case MMSYSERR_INVALFLAG:
            return "An invalid flag was passed to a system function.";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to a system function.";
        case MIDIERR_UNPREPARED:
            return "The header was not prepared. Use the Prepare function to prepare the header, "
                   "and then try again.";
        case MIDIERR_STILLPLAYING:
            return "Cannot perform this operation while media data is still playing. Reset the "
                   "device, or wait until the data is finished playing.";
        case MIDIERR_NOMAP:
            return "A MIDI map was not found. There may be a problem with the driver, or the "
                   "MIDIMAP.CFG file may be corrupt or missing.";
        case MIDIERR_NOTREADY:
            return "The port is transmitting data to the device. Wait until the data has been "
                   "transmitted, and then try again.";
        case MIDIERR_NODEVICE:
            return "The current MIDI Mapper setup refers to a MIDI device that is not installed "
                   "on the system. Use MIDI Mapper to edit the setup.";
        case MIDIERR_INVALIDSETUP:
            return "The current MIDI setup is damaged. Copy the original MIDIMAP.CFG file to the "
                   "Windows SYSTEM directory, and then try again.";
        default:
            return nullptr;
    }
}

template <typename Char>
MMRESULT copyErrorText(MMRESULT code, Char* text, UINT size) {
    if (size == 0) {
        return MMSYSERR_NOERROR;  // documented: nothing copied
    }
    if (!text) {
        return MMSYSERR_INVALPARAM;
    }
    const char* message = errorText(code);
    if (!message) {
        return MMSYSERR_BADERRNUM;
    }
    size_t n = std::min<size_t>(std::strlen(message), size - 1);
    std::copy(message, message + n, text);
    text[n] = 0;
    return MMSYSERR_NOERROR;
}

// Whether [p, p + size) is committed memory that can be read, so that a buffer the application
// freed (a large block goes back to the system) is looked at without a fault.
bool readable(const void* p, size_t size) {
    auto at = static_cast<const char*>(p);
    const char* end = at + size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (!VirtualQuery(at, &info, sizeof info) || info.State != MEM_COMMIT ||
            (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) || !info.Protect) {
            return false;
        }
        at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

// The busy heap block that holds [p, p + size), if any: the header or data buffer is the start
// of one, or a member near its start. A block freed keeps its start no longer valid, whatever
// the allocator wrote (or did not write) into it.
struct HeapBlock {
    HANDLE heap = nullptr;
    const void* start = nullptr;

    bool freed() const { return heap && !HeapValidate(heap, 0, start); }
};

HeapBlock heapBlockOf(const void* p, size_t size) {
    constexpr uintptr_t kAlign = 16, kReach = 512;  // how far below p a block's start is looked for
    HANDLE heaps[64];
    DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    auto at = reinterpret_cast<uintptr_t>(p);
    for (uintptr_t below = 0; below <= kReach && below <= at; below += kAlign) {
        auto start = reinterpret_cast<const void*>((at & ~(kAlign - 1)) - below);
        for (DWORD i = 0; i < count; ++i) {
            if (HeapValidate(heaps[i], 0, start)) {
                SIZE_T length = HeapSize(heaps[i], 0, start);
                bool holds = length != SIZE_T(-1) &&
                             reinterpret_cast<uintptr_t>(start) + length >= at + size;
                return holds ? HeapBlock{heaps[i], start} : HeapBlock{};
            }
        }
    }
    return {};  // on the stack, static, or not from a heap the process lists
}

class Model {
  public:
    Model() { reset(); }

    // --- The control API ---

    bool resetAll() {
        std::thread old;
        {
            std::lock_guard lock(m_);
            if (std::this_thread::get_id() == driverId_) {
                violation("winmmModelReset was called on the stand-in's own thread (from a sink)");
                return false;
            }
            stop_ = true;
            work_.notify_all();
            done_.notify_all();
            old = std::move(driver_);
        }
        if (old.joinable()) {
            old.join();
        }
        std::lock_guard lock(m_);
        return reset();
    }

    unsigned add(Kind kind, const char* name) {
        std::lock_guard lock(m_);
        if (!name) {
            return ~0u;
        }
        auto device = std::make_shared<Device>();
        device->kind = kind;
        device->name = name;
        auto& list = kind == Kind::In ? inputs_ : outputs_;
        list.push_back(device);
        return unsigned(list.size() - 1);
    }

    template <typename F>
    bool withDevice(Kind kind, unsigned id, F f) {
        std::lock_guard lock(m_);
        auto& list = kind == Kind::In ? inputs_ : outputs_;
        if (id >= list.size()) {
            return false;
        }
        f(*list[id]);
        return true;
    }

    bool inject(unsigned id, const unsigned char* bytes, unsigned length) {
        std::lock_guard lock(m_);
        if (id >= inputs_.size() || (!bytes && length)) {
            return false;
        }
        Device& d = *inputs_[id];
        if (d.arriving.empty()) {
            d.nextArrival = Clock::now() + d.byteTime();
        }
        d.arriving.insert(d.arriving.end(), bytes, bytes + length);
        ensureDriver();
        return true;
    }

    bool remove(Kind kind, unsigned id) {
        std::lock_guard lock(m_);
        return unplug(kind, id);
    }

    // Both ports of one interface at once: no call sees one gone and the other still there.
    bool removePair(unsigned inputId, unsigned outputId) {
        std::lock_guard lock(m_);
        if (inputId >= inputs_.size() || outputId >= outputs_.size()) {
            return false;
        }
        return unplug(Kind::In, inputId) && unplug(Kind::Out, outputId);
    }

    unsigned callbacksAfterClose() {
        std::lock_guard lock(m_);
        return afterClose_;
    }

    unsigned releaseHeld() {
        std::unique_lock lock(m_);
        unsigned count = 0;
        for (auto& [value, h] : handles_) {
            if (!h->device->silent()) {
                count += unsigned(h->held.size());
                handBackHeld(*h);
            }
        }
        awaitCallbacks(lock);
        return count;
    }

    unsigned heldHeaders() {
        std::lock_guard lock(m_);
        unsigned count = 0;
        for (auto& [value, h] : handles_) {
            count += unsigned(h->held.size());
        }
        return count;
    }

    unsigned headerViolations() {
        std::lock_guard lock(m_);
        return headerViolations_;
    }

    unsigned violationCount() {
        std::lock_guard lock(m_);
        return unsigned(violations_.size());
    }

    unsigned violationText(unsigned index, char* text, unsigned size) {
        std::lock_guard lock(m_);
        if (index >= violations_.size()) {
            return 0;
        }
        const std::string& v = violations_[index];
        if (text && size) {
            size_t n = std::min<size_t>(v.size(), size - 1);
            std::memcpy(text, v.data(), n);
            text[n] = 0;
        }
        return unsigned(v.size());
    }

    // --- The winmm functions ---

    UINT numDevs(Kind kind) {
        std::lock_guard lock(m_);
        checkCaller(kind == Kind::In ? "midiInGetNumDevs" : "midiOutGetNumDevs");
        return UINT((kind == Kind::In ? inputs_ : outputs_).size());
    }

    template <typename Caps>
    MMRESULT devCaps(Kind kind, UINT_PTR id, Caps* caps, UINT size, const char* function) {
        std::lock_guard lock(m_);
        checkCaller(function);
        if (!caps) {
            return MMSYSERR_INVALPARAM;
        }
        Caps full{};
        std::string name;
        if (kind == Kind::Out && id == MIDI_MAPPER) {
            name = "Microsoft MIDI Mapper";
            fillCaps(full, nullptr);
        } else {
            std::shared_ptr<Device> d = deviceFor(kind, id);
            if (!d) {
                return MMSYSERR_BADDEVICEID;
            }
            if (d->removed) {
                return MMSYSERR_NODRIVER;
            }
            name = d->name;
            fillCaps(full, d.get());
        }
        // szPname holds 31 characters and the NUL.
        size_t n = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
        std::copy(name.begin(), name.begin() + n, full.szPname);
        full.szPname[n] = 0;
        std::memcpy(caps, &full, std::min<size_t>(size, sizeof full));  // documented: cb or less
        return MMSYSERR_NOERROR;
    }

    MMRESULT open(Kind kind, uintptr_t* handleOut, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                  DWORD flags) {
        std::unique_lock lock(m_);
        checkCaller(kind == Kind::In ? "midiInOpen" : "midiOutOpen");
        if (!handleOut) {
            return MMSYSERR_INVALPARAM;
        }
        DWORD type = flags & CALLBACK_TYPEMASK;
        if (flags & ~(CALLBACK_TYPEMASK | MIDI_IO_STATUS)) {
            return MMSYSERR_INVALFLAG;
        }
        if (type != CALLBACK_NULL && type != CALLBACK_FUNCTION) {
            violation(
                "a callback by window, thread or event was asked for: only CALLBACK_FUNCTION "
                "and CALLBACK_NULL are modelled");
            return MMSYSERR_INVALFLAG;
        }
        if (type == CALLBACK_FUNCTION && !callback) {
            return MMSYSERR_INVALPARAM;
        }
        if (kind == Kind::Out && id == MIDI_MAPPER) {
            id = 0;  // the mapper leads to the synth, as it does by default
        }
        auto& list = kind == Kind::In ? inputs_ : outputs_;
        if (id >= list.size()) {
            return MMSYSERR_BADDEVICEID;
        }
        std::shared_ptr<Device> d = list[id];
        if (d->failOpen != MMSYSERR_NOERROR) {
            return std::exchange(d->failOpen, MMSYSERR_NOERROR);
        }
        if (d->open) {
            return MMSYSERR_ALLOCATED;
        }
        auto h = std::make_unique<Handle>();
        h->value = nextHandle_ += 0x10;
        h->kind = kind;
        h->device = d;
        h->type = type;
        h->callback = callback;
        h->instance = instance;
        d->open = h.get();
        *handleOut = h->value;
        uintptr_t value = h->value;
        handles_.emplace(value, std::move(h));
        notify(value, kind == Kind::In ? MIM_OPEN : MOM_OPEN);
        awaitCallbacks(lock);
        return MMSYSERR_NOERROR;
    }

    MMRESULT close(Kind kind, uintptr_t value) {
        std::unique_lock lock(m_);
        checkCaller(kind == Kind::In ? "midiInClose" : "midiOutClose");
        Handle* h = find(kind, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        for (MIDIHDR* header : h->buffers) {
            intact(header, "its handle was closed", false);
        }
        for (auto [header, stamp] : h->held) {
            intact(header, "its handle was closed", false);
        }
        bool silent = h->device->silent();
        if (!silent && (!h->buffers.empty() || !h->held.empty() || h->returning)) {
            return MIDIERR_STILLPLAYING;  // documented: buffers not yet returned
        }
        h->closing = true;
        h->started = false;
        if (silent) {
            // The driver is gone: it never hands back what it held, and says nothing of the
            // close. Callbacks that fell due before the removal are still made.
            for (MIDIHDR* header : h->buffers) {
                owned_.erase(header);
            }
            for (auto [header, stamp] : h->held) {
                owned_.erase(header);
            }
        } else {
            notify(value, kind == Kind::In ? MIM_CLOSE : MOM_CLOSE);
        }
        awaitCallbacks(lock);
        if (auto it = handles_.find(value); it != handles_.end()) {
            if (it->second->device->open == it->second.get()) {
                it->second->device->open = nullptr;
            }
            handles_.erase(it);
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT prepare(Kind kind, uintptr_t value, MIDIHDR* header, UINT size, bool prepare) {
        std::lock_guard lock(m_);
        const char* names[2][2] = {{"midiInUnprepareHeader", "midiInPrepareHeader"},
                                   {"midiOutUnprepareHeader", "midiOutPrepareHeader"}};
        checkCaller(names[kind == Kind::Out][prepare]);
        Handle* h = find(kind, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!header || size < sizeof(MIDIHDR) || (prepare && !header->lpData)) {
            return MMSYSERR_INVALPARAM;
        }
        if (prepare && h->device->removed) {
            return MMSYSERR_NODRIVER;
        }
        if (prepare) {
            header->dwFlags |= MHDR_PREPARED;  // documented: preparing twice has no effect
        } else if (header->dwFlags & MHDR_INQUEUE) {
            return MIDIERR_STILLPLAYING;
        } else {
            header->dwFlags &= ~MHDR_PREPARED;  // documented: unpreparing twice has no effect
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT addBuffer(uintptr_t value, MIDIHDR* header, UINT size) {
        std::lock_guard lock(m_);
        checkCaller("midiInAddBuffer");
        Handle* h = find(Kind::In, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!header || size < sizeof(MIDIHDR) || !header->lpData || !header->dwBufferLength) {
            return MMSYSERR_INVALPARAM;
        }
        if (!(header->dwFlags & MHDR_PREPARED)) {
            return MIDIERR_UNPREPARED;
        }
        if (header->dwFlags & MHDR_INQUEUE) {
            return MIDIERR_STILLPLAYING;
        }
        if (h->device->removed) {
            return MMSYSERR_NODRIVER;
        }
        if (!takeable(header, "midiInAddBuffer")) {
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        take(header, false);
        h->buffers.push_back(header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT start(uintptr_t value) {
        std::lock_guard lock(m_);
        checkCaller("midiInStart");
        Handle* h = find(Kind::In, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (h->device->removed) {
            return MMSYSERR_NODRIVER;
        }
        if (!h->started) {  // documented: starting again has no effect
            h->started = true;
            h->startTime = Clock::now();
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT stop(uintptr_t value, bool reset) {
        std::unique_lock lock(m_);
        checkCaller(reset ? "midiInReset" : "midiInStop");
        Handle* h = find(Kind::In, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (h->device->silent()) {
            return MMSYSERR_NODRIVER;  // and what it holds stays queued
        }
        bool wasStarted = std::exchange(h->started, false);
        h->inSysex = false;  // the rest of a message under way will not be read
        h->status = 0;
        h->have = 0;
        if (reset && h->device->holdAfterReset) {
            for (MIDIHDR* header : h->buffers) {
                h->held.emplace_back(header, recorded(header) ? h->bufferStamp : 0);
            }
            h->buffers.clear();
            holdUntil(*h);
        } else if (reset) {
            while (!h->buffers.empty()) {
                handBackInput(*h, MIM_LONGDATA);
            }
        } else if (wasStarted && !h->buffers.empty() && recorded(h->buffers.front())) {
            handBackInput(*h, MIM_LONGDATA);  // documented: empty buffers stay queued
        }
        awaitCallbacks(lock);
        return MMSYSERR_NOERROR;
    }

    MMRESULT getId(Kind kind, uintptr_t value, UINT* id) {
        std::lock_guard lock(m_);
        checkCaller(kind == Kind::In ? "midiInGetID" : "midiOutGetID");
        Handle* h = find(kind, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!id) {
            return MMSYSERR_INVALPARAM;
        }
        if (h->device->removed) {
            if (!h->device->idAfterRemoval) {
                return MMSYSERR_NODRIVER;
            }
            // Answered from the handle, as real drivers do: the ID it had, which may now be
            // another device's.
            *id = h->device->lastId;
            return MMSYSERR_NOERROR;
        }
        auto& list = kind == Kind::In ? inputs_ : outputs_;
        *id = UINT(std::find(list.begin(), list.end(), h->device) - list.begin());
        return MMSYSERR_NOERROR;
    }

    MMRESULT longMsg(uintptr_t value, MIDIHDR* header, UINT size) {
        std::lock_guard lock(m_);
        checkCaller("midiOutLongMsg");
        Handle* h = find(Kind::Out, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!header || size < sizeof(MIDIHDR) || !header->lpData) {
            return MMSYSERR_INVALPARAM;
        }
        if (!(header->dwFlags & MHDR_PREPARED)) {
            return MIDIERR_UNPREPARED;
        }
        if (header->dwFlags & MHDR_INQUEUE) {
            return MIDIERR_STILLPLAYING;
        }
        Device& d = *h->device;
        if (d.removed) {
            return MMSYSERR_NODRIVER;
        }
        if (d.failLongCount) {
            --d.failLongCount;
            return d.failLongCode;
        }
        if (!takeable(header, "midiOutLongMsg")) {
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        take(header, true);
        h->buffers.push_back(header);
        Leaving item;
        item.handle = value;
        item.header = header;
        if (d.cable) {
            // Taken at USB speed: the bytes go into the cable, the buffer comes back at once.
            auto* data = reinterpret_cast<const unsigned char*>(header->lpData);
            toCable(d, std::vector<unsigned char>(data, data + header->dwBufferLength));
            handBackOutput(item);
            return MMSYSERR_NOERROR;
        }
        send(d, std::move(item), header->dwBufferLength);
        return MMSYSERR_NOERROR;
    }

    MMRESULT shortMsg(uintptr_t value, DWORD message) {
        std::lock_guard lock(m_);
        checkCaller("midiOutShortMsg");
        Handle* h = find(Kind::Out, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        if (h->device->removed) {
            return MMSYSERR_NODRIVER;
        }
        unsigned char packed[3] = {static_cast<unsigned char>(message),
                                   static_cast<unsigned char>(message >> 8),
                                   static_cast<unsigned char>(message >> 16)};
        Leaving item;
        if (packed[0] >= 0x80) {
            if (packed[0] == 0xF0 || packed[0] == 0xF7) {
                return MMSYSERR_INVALPARAM;  // SysEx goes by midiOutLongMsg
            }
            if (packed[0] < 0xF0) {
                h->runningOut = packed[0];
            } else if (packed[0] < 0xF8) {
                h->runningOut = 0;  // system common ends a running status
            }
            item.bytes.assign(packed, packed + 1 + dataBytes(packed[0]));
        } else {
            if (!h->runningOut) {
                return MMSYSERR_INVALPARAM;  // data bytes with no running status to go by
            }
            item.bytes.assign(packed, packed + dataBytes(h->runningOut));
        }
        if (h->device->cable) {
            toCable(*h->device, std::move(item.bytes));
            return MMSYSERR_NOERROR;
        }
        size_t length = item.bytes.size();
        send(*h->device, std::move(item), length);
        return MMSYSERR_NOERROR;
    }

    MMRESULT outReset(uintptr_t value) {
        std::unique_lock lock(m_);
        checkCaller("midiOutReset");
        Handle* h = find(Kind::Out, value);
        if (!h) {
            return MMSYSERR_INVALHANDLE;
        }
        Device& d = *h->device;
        if (d.silent()) {
            return MMSYSERR_NODRIVER;  // and what it holds stays queued
        }
        if (d.removed) {
            awaitCallbacks(lock);  // what it held came back at the removal
            return MMSYSERR_NOERROR;
        }
        h->runningOut = 0;
        Clock::time_point now = Clock::now();
        if (!d.leaving.empty() && d.leaving.front().start < now && d.byteTime().count()) {
            // What had left of the message under way reaches the device cut short (the
            // documentation warns that no EOX is added).
            Leaving& under = d.leaving.front();
            size_t gone = size_t((now - under.start) / d.byteTime());
            const unsigned char* bytes =
                under.header ? reinterpret_cast<const unsigned char*>(under.header->lpData)
                             : under.bytes.data();
            size_t length = under.header ? under.header->dwBufferLength : under.bytes.size();
            if (gone && gone < length &&
                (!under.header || intact(under.header, "sending the rest of it", true))) {
                toSink(d, std::vector<unsigned char>(bytes, bytes + gone));
            }
        }
        if (d.holdAfterReset) {
            for (MIDIHDR* header : h->buffers) {
                h->held.emplace_back(header, 0);
            }
            h->buffers.clear();
            holdUntil(*h);
        } else {
            for (Leaving& item : d.leaving) {
                if (item.header) {
                    handBackOutput(item);
                }
            }
        }
        d.leaving.clear();
        d.wireFree = now;
        // Documented: a note-off for each note on each channel, then the sustain pedal off
        // on each channel. They reach the sink at once, not at the wire rate.
        std::vector<unsigned char> off;
        for (unsigned channel = 0; channel < 16; ++channel) {
            for (unsigned note = 0; note < 128; ++note) {
                off.insert(off.end(), {static_cast<unsigned char>(0x80 | channel),
                                       static_cast<unsigned char>(note), 0});
            }
        }
        for (unsigned channel = 0; channel < 16; ++channel) {
            off.insert(off.end(), {static_cast<unsigned char>(0xB0 | channel), 0x40, 0});
        }
        toSink(d, std::move(off));
        awaitCallbacks(lock);
        return MMSYSERR_NOERROR;
    }

  private:
    static constexpr unsigned char kUnfilled = 0xFD;
    // Checked before each byte written: where an allocator puts its links into a freed block.
    static constexpr size_t kFirstBytes = 16;
    // What the driver knows of each header it holds, to tell whether the application freed or
    // changed it meanwhile.
    struct Owned {
        bool output = false;
        MIDIHDR copy{};                   // as handed over, with the driver's mark
        std::vector<unsigned char> data;  // output: the bytes to send; input: those written
        HeapBlock headerBlock, dataBlock;
        bool broken = false;  // found freed or changed: never touched again
    };

    bool reset() {
        bool clean = handles_.empty();
        size_t open = handles_.size();
        handles_.clear();
        notices_.clear();
        delivered_ = queued_;
        inputs_.clear();
        outputs_.clear();
        auto synth = std::make_shared<Device>();
        synth->kind = Kind::Out;
        synth->name = "Microsoft GS Wavetable Synth";
        synth->synth = true;
        synth->baud = 0;  // no wire: it plays what it gets
        outputs_.push_back(synth);
        violations_.clear();
        afterClose_ = 0;
        owned_.clear();
        headerViolations_ = 0;
        stop_ = false;
        if (!clean) {
            violation("winmmModelReset found " + std::to_string(open) +
                      " handle(s) still open; they were dropped");
        }
        return clean;
    }

    void violation(std::string text) { violations_.push_back(std::move(text)); }

    // The documentation: applications should not call any multimedia function from inside the
    // callback, as doing so can cause a deadlock.
    void checkCaller(const char* function) {
        if (tlInCallback) {
            violation(std::string(function) +
                      " was called inside a MIDI callback, where the documentation allows no "
                      "multimedia function");
        }
    }

    Handle* find(Kind kind, uintptr_t value) {
        auto it = handles_.find(value);
        return it != handles_.end() && it->second->kind == kind && !it->second->closing
                   ? it->second.get()
                   : nullptr;
    }

    // A device ID, or (documented for the caps functions) a handle cast to one.
    std::shared_ptr<Device> deviceFor(Kind kind, UINT_PTR id) {
        auto& list = kind == Kind::In ? inputs_ : outputs_;
        if (id < list.size()) {
            return list[id];
        }
        Handle* h = find(kind, id);
        return h ? h->device : nullptr;
    }

    // What Windows' own class driver tells of a USB MIDI port, and of the synth and the mapper.
    template <typename Caps>
    static void fillCaps(Caps& caps, const Device* d) {
        caps.wMid = MM_MICROSOFT;
        caps.vDriverVersion = 0x0A00;
        if constexpr (!requires { caps.wTechnology; }) {
            caps.wPid = MM_MSFT_WDMAUDIO_MIDIIN;
            return;
        } else {
            fillOutputCaps(caps, d);
        }
    }

    template <typename Caps>
    static void fillOutputCaps(Caps& caps, const Device* d) {
        caps.wChannelMask = 0xFFFF;
        if (!d) {
            caps.wPid = MM_MIDI_MAPPER;
            caps.wTechnology = MOD_MAPPER;
        } else if (d->synth) {
            caps.wPid = MM_MSFT_GENERIC_MIDISYNTH;
            caps.wTechnology = MOD_SWSYNTH;
            caps.wVoices = 32;
            caps.wNotes = 32;
            caps.dwSupport = MIDICAPS_VOLUME | MIDICAPS_LRVOLUME;
        } else {
            caps.wPid = MM_MSFT_WDMAUDIO_MIDIOUT;
            caps.wTechnology = MOD_MIDIPORT;
        }
    }

    // Starts the driver thread unless it runs. It leaves by itself when nothing is open or
    // under way; a thread that has left its loop needs the lock no more, so it is joined here.
    void ensureDriver() {
        if (running_) {
            work_.notify_all();
            return;
        }
        if (stop_) {
            return;
        }
        if (driver_.joinable()) {
            driver_.join();
        }
        running_ = true;
        driver_ = std::thread([this] { run(); });
    }

    uint64_t push(Notice notice) {
        notice.seq = ++queued_;
        notices_.push_back(std::move(notice));
        ensureDriver();
        return queued_;
    }

    void notify(uintptr_t handle, UINT message, DWORD_PTR param1 = 0, DWORD_PTR param2 = 0,
                MIDIHDR* header = nullptr) {
        Notice n;
        n.handle = handle;
        n.message = message;
        n.param1 = param1;
        n.param2 = param2;
        n.header = header;
        push(std::move(n));
    }

    void toSink(Device& d, std::vector<unsigned char> bytes) {
        if (!d.sink || bytes.empty()) {
            return;
        }
        Notice n;
        auto& list = outputs_;
        auto it = std::find_if(list.begin(), list.end(), [&](auto& p) { return p.get() == &d; });
        n.sinkDevice = it != list.end() ? *it : nullptr;
        if (!n.sinkDevice) {
            return;
        }
        n.bytes = std::move(bytes);
        push(std::move(n));
    }

    // Waits until every callback owed so far has been made. Inside a callback (misuse, already
    // recorded) that would deadlock, so then it returns at once.
    void awaitCallbacks(std::unique_lock<std::mutex>& lock) {
        uint64_t target = queued_;
        if (delivered_ >= target || std::this_thread::get_id() == driverId_) {
            return;
        }
        if (!done_.wait_for(lock, kCallbackBound,
                            [&] { return delivered_ >= target || !running_; })) {
            violation("a MIDI callback blocked for 20 s while the caller waited for it");
        }
    }

    void send(Device& d, Leaving item, size_t length) {
        item.start = std::max(Clock::now(), d.wireFree);
        item.end = item.start + d.byteTime() * length;
        d.wireFree = item.end;
        d.leaving.push_back(std::move(item));
        ensureDriver();
    }

    // A cable without flow control keeps what fits in its buffer and loses the rest; what it
    // keeps leaves on the wire after what it already holds.
    void toCable(Device& d, std::vector<unsigned char> bytes) {
        size_t held = d.cableHeld(Clock::now());
        size_t room = d.cable > held ? d.cable - held : 0;
        size_t kept = std::min(room, bytes.size());
        d.lost += bytes.size() - kept;
        if (!kept) {
            return;
        }
        bytes.resize(kept);
        Leaving item;
        item.bytes = std::move(bytes);
        send(d, std::move(item), kept);
    }

    // Surprise removal: the device leaves its list (those after it move down) and its driver
    // stops: it makes no callback any more, not even for what it holds, which stays queued.
    bool unplug(Kind kind, unsigned id) {
        auto& list = kind == Kind::In ? inputs_ : outputs_;
        if (id >= list.size()) {
            return false;
        }
        std::shared_ptr<Device> d = list[id];
        list.erase(list.begin() + id);
        d->removed = true;
        d->lastId = id;
        d->arriving.clear();
        if (!d->silentRemoval) {
            // A driver that fails its outstanding requests: pending output comes back unsent,
            // and so does what it kept past a reset. Queued input stays until midiInReset.
            for (Leaving& item : d->leaving) {
                if (item.header) {
                    handBackOutput(item);
                }
            }
            if (d->open) {
                handBackHeld(*d->open);
            }
        }
        d->leaving.clear();  // a silent driver's headers stay in their handle's queue
        return true;
    }

    // A header handed to the driver: what the application may not touch until it comes back is
    // kept, and the driver's own field marked as a driver's queue link would be.
    void take(MIDIHDR* header, bool output) {
        header->reserved = reinterpret_cast<DWORD_PTR>(header) ^ DWORD_PTR(0x4D4F44454CULL);
        Owned o;
        o.output = output;
        o.copy = *header;
        if (output) {
            auto* data = reinterpret_cast<const unsigned char*>(header->lpData);
            o.data.assign(data, data + header->dwBufferLength);
        } else {
            // The buffer is the driver's to fill: what it did not fill shows a pattern, which an
            // allocator's bookkeeping in freed memory breaks.
            std::memset(header->lpData, kUnfilled, header->dwBufferLength);
        }
        o.headerBlock = heapBlockOf(header, sizeof(MIDIHDR));
        o.dataBlock = heapBlockOf(header->lpData, header->dwBufferLength);
        owned_[header] = std::move(o);
    }

    // A header the driver still holds cannot be handed over again: its memory was freed and
    // reused for this one, or its flags were cleared by hand, which the check records.
    bool takeable(MIDIHDR* header, const char* function) {
        if (!owned_.count(header)) {
            return true;
        }
        intact(header, (std::string("it was given to ") + function + " again").c_str(), false);
        return false;
    }

    // Whether the application left a header the driver holds as it was handed over: not freed,
    // not reused, not changed. Asked before each time the driver reads or writes it; once it
    // fails the driver touches the header no more and makes no callback for it.
    bool intact(MIDIHDR* header, const char* when, bool withData) {
        auto it = owned_.find(header);
        if (it == owned_.end()) {
            return true;
        }
        Owned& o = it->second;
        if (o.broken) {
            return false;
        }
        MIDIHDR now{};
        bool mapped = readable(header, sizeof now);
        if (mapped) {
            std::memcpy(&now, header, sizeof now);
        }
        std::string fault;
        if (!mapped) {
            fault = "its memory is no longer mapped";
        } else if (o.headerBlock.freed()) {
            fault = "the heap block holding it was freed";
        } else if (o.dataBlock.freed()) {
            fault = "the heap block of its data buffer (lpData) was freed";
        } else if (now.lpData != o.copy.lpData || now.dwBufferLength != o.copy.dwBufferLength) {
            fault = "its lpData or dwBufferLength changed";
        } else if (now.dwFlags != o.copy.dwFlags) {
            fault = "its dwFlags changed";
        } else if (now.lpNext != o.copy.lpNext || now.reserved != o.copy.reserved ||
                   std::memcmp(now.dwReserved, o.copy.dwReserved, sizeof now.dwReserved)) {
            fault = "the driver's reserved fields changed";
        } else if (!o.output && now.dwBytesRecorded != o.data.size()) {
            fault = "its dwBytesRecorded changed";
        } else if (!dataIntact(o, now, withData ? now.dwBufferLength : kFirstBytes)) {
            fault = o.output ? "the bytes to send changed" : "its data buffer changed";
        }
        if (fault.empty()) {
            return true;
        }
        o.broken = true;
        ++headerViolations_;
        violation("the " + std::string(o.output ? "output" : "input") + " header at " +
                  address(header) + " was freed or changed while the driver held it (" + fault +
                  "), found when " + when + "; the driver left it alone");
        return false;
    }

    // Whether the first `length` bytes of the data buffer hold what the driver expects there:
    // the bytes to send, or those received followed by the pattern.
    static bool dataIntact(const Owned& o, const MIDIHDR& now, size_t length) {
        length = std::min<size_t>(length, now.dwBufferLength);
        auto* data = reinterpret_cast<const unsigned char*>(now.lpData);
        if (!readable(data, length)) {
            return false;
        }
        size_t known = std::min(length, o.data.size());
        return std::equal(data, data + known, o.data.begin()) &&
               (o.output || std::all_of(data + known, data + length,
                                        [](unsigned char b) { return b == kUnfilled; }));
    }

    static std::string address(const void* p) {
        char text[32];
        std::snprintf(text, sizeof text, "%p", p);
        return text;
    }

    // Bytes the driver wrote into an input buffer (kept by the driver, not read from the header).
    size_t recorded(MIDIHDR* header) const {
        auto it = owned_.find(header);
        return it != owned_.end() ? it->second.data.size() : 0;
    }

    void holdUntil(Handle& h) {
        unsigned ms = h.device->holdAfterReset;
        h.releaseAt = ms == WINMM_MODEL_HOLD_UNTIL_RELEASED
                          ? Clock::time_point::max()
                          : Clock::now() + std::chrono::milliseconds(ms);
        ensureDriver();
    }

    // Hands the headers kept past a reset back, marked done, as the reset would have.
    void handBackHeld(Handle& h) {
        UINT message = h.kind == Kind::In ? MIM_LONGDATA : MOM_DONE;
        for (auto [header, stamp] : h.held) {
            ++h.returning;
            notify(h.value, message, reinterpret_cast<DWORD_PTR>(header), stamp, header);
        }
        h.held.clear();
        h.releaseAt = Clock::time_point::max();
    }

    void handBackOutput(const Leaving& item) {
        Handle* h = find(Kind::Out, item.handle);
        if (!h) {
            return;
        }
        auto& b = h->buffers;
        b.erase(std::remove(b.begin(), b.end(), item.header), b.end());
        ++h->returning;
        notify(item.handle, MOM_DONE, reinterpret_cast<DWORD_PTR>(item.header), 0, item.header);
    }

    void handBackInput(Handle& h, UINT message) {
        MIDIHDR* header = h.buffers.front();
        h.buffers.pop_front();
        ++h.returning;
        notify(h.value, message, reinterpret_cast<DWORD_PTR>(header),
               recorded(header) ? h.bufferStamp : 0, header);
    }

    // --- The driver thread ---

    void run() {
        std::unique_lock lock(m_);
        driverId_ = std::this_thread::get_id();
        while (!stop_) {
            if (!notices_.empty()) {
                deliver(lock);
                continue;
            }
            Clock::time_point next = advance(Clock::now());
            if (!notices_.empty()) {
                continue;
            }
            if (idle()) {
                break;
            }
            work_.wait_until(lock, std::min(next, Clock::now() + 1s));
        }
        running_ = false;
        driverId_ = {};
        done_.notify_all();
    }

    bool idle() const {
        auto quiet = [](const auto& list) {
            return std::all_of(list.begin(), list.end(), [](const auto& d) {
                return d->arriving.empty() && d->leaving.empty();
            });
        };
        return handles_.empty() && notices_.empty() && quiet(inputs_) && quiet(outputs_);
    }

    void deliver(std::unique_lock<std::mutex>& lock) {
        Notice n = std::move(notices_.front());
        notices_.pop_front();
        if (n.sinkDevice) {
            if (WinmmModelSink sink = n.sinkDevice->sink) {
                void* context = n.sinkDevice->sinkContext;
                lock.unlock();
                sink(context, n.bytes.data(), unsigned(n.bytes.size()));
                lock.lock();
            }
        } else if (auto it = handles_.find(n.handle); it == handles_.end()) {
            // Our own guarantee: close returns only after its last callback.
            ++afterClose_;
            violation("a callback fell due after its handle had been closed; it was not made");
        } else {
            Handle& h = *it->second;
            bool call = true;
            if (n.header) {
                --h.returning;
                call = intact(n.header, "handing it back", true);
                owned_.erase(n.header);
                if (call) {
                    n.header->dwFlags = (n.header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
                }
            }
            if (call && h.type == CALLBACK_FUNCTION) {
                auto callback = reinterpret_cast<Callback>(h.callback);
                DWORD_PTR instance = h.instance;
                tlInCallback = true;
                lock.unlock();
                callback(reinterpret_cast<HANDLE>(n.handle), n.message, instance, n.param1,
                         n.param2);
                lock.lock();
                tlInCallback = false;
            }
        }
        delivered_ = n.seq;
        done_.notify_all();
    }

    // Lets the bytes whose time has come arrive or leave; returns when the next one is due.
    Clock::time_point advance(Clock::time_point now) {
        Clock::time_point next = Clock::time_point::max();
        for (auto& d : inputs_) {
            while (!d->arriving.empty() && d->nextArrival <= now) {
                unsigned char byte = d->arriving.front();
                d->arriving.pop_front();
                arrive(*d, byte, d->nextArrival);
                d->nextArrival += d->byteTime();
            }
            if (!d->arriving.empty()) {
                next = std::min(next, d->nextArrival);
            }
        }
        for (auto& d : outputs_) {
            while (!d->leaving.empty() && d->leaving.front().end <= now) {
                Leaving item = std::move(d->leaving.front());
                d->leaving.pop_front();
                if (item.header) {
                    // The bytes are read as they leave, as the hardware would read them.
                    if (intact(item.header, "reading its bytes to send", true)) {
                        auto* data = reinterpret_cast<const unsigned char*>(item.header->lpData);
                        toSink(*d, std::vector<unsigned char>(data,
                                                              data + item.header->dwBufferLength));
                    }
                    handBackOutput(item);
                } else {
                    toSink(*d, std::move(item.bytes));
                }
            }
            if (!d->leaving.empty()) {
                next = std::min(next, d->leaving.front().end);
            }
        }
        for (auto& [value, h] : handles_) {
            if (!h->held.empty() && h->releaseAt <= now && !h->device->silent()) {
                handBackHeld(*h);
            }
            if (!h->held.empty()) {
                next = std::min(next, h->releaseAt);
            }
        }
        return next;
    }

    void arrive(Device& d, unsigned char byte, Clock::time_point at) {
        Handle* h = d.open;
        if (!h || h->closing || !h->started) {
            ++d.lost;
            return;
        }
        DWORD stamp = DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::max(at, h->startTime) - h->startTime)
                                .count());
        if (byte >= 0xF8) {
            notify(h->value, MIM_DATA, byte, stamp);  // real time passes even inside a SysEx
            return;
        }
        if (h->inSysex) {
            if (byte < 0x80 || byte == 0xF7) {
                putSysex(d, *h, byte, stamp);
                if (byte == 0xF7) {
                    h->inSysex = false;
                    if (!h->buffers.empty() && recorded(h->buffers.front())) {
                        handBackInput(*h, MIM_LONGDATA);
                    }
                }
                return;
            }
            // Any other status byte cuts the message short. The buffer is handed back marked
            // invalid even if empty, so that the caller learns the message broke off.
            h->inSysex = false;
            if (!h->buffers.empty()) {
                handBackInput(*h, MIM_LONGERROR);
            }
        }
        if (byte == 0xF0) {
            h->inSysex = true;
            h->sysexBytes = 0;
            h->status = 0;
            putSysex(d, *h, byte, stamp);
            return;
        }
        readShort(*h, byte, stamp);
    }

    void putSysex(Device& d, Handle& h, unsigned char byte, DWORD stamp) {
        ++h.sysexBytes;
        while (!h.buffers.empty() && !intact(h.buffers.front(), "writing a byte into it", false)) {
            owned_.erase(h.buffers.front());  // never written, never handed back
            h.buffers.pop_front();
        }
        if (h.buffers.empty()) {
            ++d.lost;  // documented: thrown away without notice, and input goes on
            return;
        }
        MIDIHDR* header = h.buffers.front();
        std::vector<unsigned char>& written = owned_[header].data;
        if (written.empty()) {
            h.bufferStamp = stamp;
        }
        header->lpData[written.size()] = static_cast<char>(byte);
        written.push_back(byte);
        header->dwBytesRecorded = DWORD(written.size());
        bool pieceDone = d.piece && h.sysexBytes % d.piece == 0;
        if (written.size() >= header->dwBufferLength || pieceDone) {
            handBackInput(h, MIM_LONGDATA);
        }
    }

    void readShort(Handle& h, unsigned char byte, DWORD stamp) {
        if (byte >= 0x80) {
            if (byte == 0xF7) {
                notify(h.value, MIM_ERROR, byte, stamp);  // an EOX with no SysEx under way
                return;
            }
            h.status = byte;
            h.have = 0;
            h.messageStamp = stamp;
            if (!dataBytes(byte)) {
                notify(h.value, MIM_DATA, byte, stamp);
                h.status = 0;
            }
            return;
        }
        if (!h.status) {
            notify(h.value, MIM_ERROR, byte, stamp);  // a data byte with no status to go by
            return;
        }
        if (!h.have) {
            h.messageStamp = stamp;  // documented: the time of the message's first byte
        }
        h.data[h.have++] = byte;
        if (h.have == dataBytes(h.status)) {
            // Documented: running status is undone, each message comes with its status byte.
            notify(h.value, MIM_DATA, h.status | DWORD(h.data[0]) << 8 | DWORD(h.data[1]) << 16,
                   h.messageStamp);
            h.have = 0;
            h.data[1] = 0;
            if (h.status >= 0xF0) {
                h.status = 0;  // only channel messages leave a running status
            }
        }
    }

    std::mutex m_;
    std::condition_variable work_;  // for the driver thread: something to do
    std::condition_variable done_;  // for callers: callbacks made, or the driver left
    std::vector<std::shared_ptr<Device>> inputs_;
    std::vector<std::shared_ptr<Device>> outputs_;
    std::map<uintptr_t, std::unique_ptr<Handle>> handles_;
    uintptr_t nextHandle_ = 0x4D000;  // never reused, so a stale handle stays invalid
    std::deque<Notice> notices_;
    uint64_t queued_ = 0;
    uint64_t delivered_ = 0;
    std::vector<std::string> violations_;
    unsigned afterClose_ = 0;
    std::map<MIDIHDR*, Owned> owned_;
    unsigned headerViolations_ = 0;
    std::thread driver_;
    std::thread::id driverId_;
    bool running_ = false;
    bool stop_ = false;
};

// Never destroyed: at process exit Windows ends the driver thread first, perhaps while it holds
// the lock, so nothing may touch the state then.
Model& model() {
    struct Storage {
        Storage() { new (bytes) Model(); }
        alignas(Model) unsigned char bytes[sizeof(Model)];
    };
    static Storage storage;
    return *std::launder(reinterpret_cast<Model*>(storage.bytes));
}

uintptr_t raw(HMIDIIN h) {
    return reinterpret_cast<uintptr_t>(h);
}
uintptr_t raw(HMIDIOUT h) {
    return reinterpret_cast<uintptr_t>(h);
}

Kind kindOf(int kind) {
    return kind == WINMM_MODEL_OUTPUT ? Kind::Out : Kind::In;
}

}  // namespace

extern "C" {

// --- The winmm MIDI functions, exported by name (winmm.def) ---

UINT WINAPI midiInGetNumDevs(void) {
    return model().numDevs(Kind::In);
}

UINT WINAPI midiOutGetNumDevs(void) {
    return model().numDevs(Kind::Out);
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT size) {
    return model().devCaps(Kind::In, id, caps, size, "midiInGetDevCapsA");
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
    return model().devCaps(Kind::In, id, caps, size, "midiInGetDevCapsW");
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    return model().devCaps(Kind::Out, id, caps, size, "midiOutGetDevCapsA");
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
    return model().devCaps(Kind::Out, id, caps, size, "midiOutGetDevCapsW");
}

MMRESULT WINAPI midiInGetErrorTextA(MMRESULT code, LPSTR text, UINT size) {
    return copyErrorText(code, text, size);
}

MMRESULT WINAPI midiInGetErrorTextW(MMRESULT code, LPWSTR text, UINT size) {
    return copyErrorText(code, text, size);
}

MMRESULT WINAPI midiOutGetErrorTextA(MMRESULT code, LPSTR text, UINT size) {
    return copyErrorText(code, text, size);
}

MMRESULT WINAPI midiOutGetErrorTextW(MMRESULT code, LPWSTR text, UINT size) {
    return copyErrorText(code, text, size);
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
    return model().open(Kind::In, reinterpret_cast<uintptr_t*>(handle), id, callback, instance,
                        flags);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags) {
    return model().open(Kind::Out, reinterpret_cast<uintptr_t*>(handle), id, callback, instance,
                        flags);
}

MMRESULT WINAPI midiInClose(HMIDIIN h) {
    return model().close(Kind::In, raw(h));
}

MMRESULT WINAPI midiOutClose(HMIDIOUT h) {
    return model().close(Kind::Out, raw(h));
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN h, LPMIDIHDR header, UINT size) {
    return model().prepare(Kind::In, raw(h), header, size, true);
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN h, LPMIDIHDR header, UINT size) {
    return model().prepare(Kind::In, raw(h), header, size, false);
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT h, LPMIDIHDR header, UINT size) {
    return model().prepare(Kind::Out, raw(h), header, size, true);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT h, LPMIDIHDR header, UINT size) {
    return model().prepare(Kind::Out, raw(h), header, size, false);
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN h, LPMIDIHDR header, UINT size) {
    return model().addBuffer(raw(h), header, size);
}

MMRESULT WINAPI midiInStart(HMIDIIN h) {
    return model().start(raw(h));
}

MMRESULT WINAPI midiInStop(HMIDIIN h) {
    return model().stop(raw(h), false);
}

MMRESULT WINAPI midiInReset(HMIDIIN h) {
    return model().stop(raw(h), true);
}

MMRESULT WINAPI midiInGetID(HMIDIIN h, LPUINT id) {
    return model().getId(Kind::In, raw(h), id);
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT h, LPUINT id) {
    return model().getId(Kind::Out, raw(h), id);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT h, LPMIDIHDR header, UINT size) {
    return model().longMsg(raw(h), header, size);
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT h, DWORD message) {
    return model().shortMsg(raw(h), message);
}

MMRESULT WINAPI midiOutReset(HMIDIOUT h) {
    return model().outReset(raw(h));
}

// The timer functions a MIDI program commonly takes from winmm along with the MIDI ones.
DWORD WINAPI timeGetTime(void) {
    return static_cast<DWORD>(GetTickCount64());
}

// Periods begun and not yet ended: each timeBeginPeriod must be matched by a timeEndPeriod.
std::atomic<int> timerPeriods{0};

MMRESULT WINAPI timeBeginPeriod(UINT period) {
    if (period == 0)
        return TIMERR_NOCANDO;
    ++timerPeriods;
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT period) {
    if (period == 0 || timerPeriods.fetch_sub(1) <= 0) {
        ++timerPeriods;
        return TIMERR_NOCANDO;
    }
    return TIMERR_NOERROR;
}

// --- The control API (WinmmModelControl.h) ---

int winmmModelReset(void) {
    return model().resetAll();
}

unsigned winmmModelAddInput(const char* name) {
    return model().add(Kind::In, name);
}

unsigned winmmModelAddOutput(const char* name) {
    return model().add(Kind::Out, name);
}

int winmmModelSetBaud(int kind, unsigned id, unsigned baud) {
    return model().withDevice(kindOf(kind), id, [&](Device& d) { d.baud = baud; });
}

int winmmModelSetPiece(unsigned id, unsigned bytes) {
    return model().withDevice(Kind::In, id, [&](Device& d) { d.piece = bytes; });
}

int winmmModelSetCable(unsigned id, unsigned bytes) {
    return model().withDevice(Kind::Out, id, [&](Device& d) {
        d.cable = bytes;
        d.lost = 0;
    });
}

int winmmModelTimerPeriods(void) {
    return timerPeriods.load();
}

unsigned long long winmmModelCableLostBytes(unsigned id) {
    unsigned long long lost = 0;
    model().withDevice(Kind::Out, id, [&](Device& d) { lost = d.lost; });
    return lost;
}

int winmmModelSetSink(unsigned id, WinmmModelSink sink, void* context) {
    return model().withDevice(Kind::Out, id, [&](Device& d) {
        d.sink = sink;
        d.sinkContext = context;
    });
}

int winmmModelInject(unsigned id, const unsigned char* bytes, unsigned length) {
    return model().inject(id, bytes, length);
}

unsigned winmmModelWireBytes(int kind, unsigned id) {
    unsigned n = 0;
    model().withDevice(kindOf(kind), id, [&](Device& d) {
        n = unsigned(d.cable ? d.cableHeld(Clock::now()) : d.arriving.size() + d.leaving.size());
    });
    return n;
}

int winmmModelFailNextOpen(int kind, unsigned id, unsigned code) {
    return model().withDevice(kindOf(kind), id, [&](Device& d) { d.failOpen = code; });
}

int winmmModelFailLongMsg(unsigned id, unsigned count, unsigned code) {
    return model().withDevice(Kind::Out, id, [&](Device& d) {
        d.failLongCount = count;
        d.failLongCode = code;
    });
}

int winmmModelRemove(int kind, unsigned id) {
    return model().remove(kindOf(kind), id);
}

int winmmModelSilentRemoval(int kind, unsigned id, int silent) {
    return model().withDevice(kindOf(kind), id, [&](Device& d) { d.silentRemoval = silent; });
}

int winmmModelIdAfterRemoval(int kind, unsigned id, int answers) {
    return model().withDevice(kindOf(kind), id, [&](Device& d) { d.idAfterRemoval = answers; });
}

int winmmModelRemovePair(unsigned inputId, unsigned outputId) {
    return model().removePair(inputId, outputId);
}

int winmmModelIsOpen(int kind, unsigned id) {
    bool open = false;
    model().withDevice(kindOf(kind), id, [&](Device& d) { open = d.open != nullptr; });
    return open;
}

unsigned long long winmmModelLostBytes(unsigned id) {
    unsigned long long lost = 0;
    model().withDevice(Kind::In, id, [&](Device& d) { lost = d.lost; });
    return lost;
}

unsigned winmmModelCallbacksAfterClose(void) {
    return model().callbacksAfterClose();
}

int winmmModelHoldAfterReset(int kind, unsigned id, unsigned ms) {
    return model().withDevice(kindOf(kind), id, [&](Device& d) { d.holdAfterReset = ms; });
}

unsigned winmmModelReleaseHeld(void) {
    return model().releaseHeld();
}

unsigned winmmModelHeldHeaders(void) {
    return model().heldHeaders();
}

unsigned winmmModelHeaderViolations(void) {
    return model().headerViolations();
}

unsigned winmmModelViolationCount(void) {
    return model().violationCount();
}

unsigned winmmModelViolationText(unsigned index, char* text, unsigned size) {
    return model().violationText(index, text, size);
}

}  // extern "C"

// The texts of the MIDI seam's result codes: the system's own where it has them (winmm), our
// words for a port that failed, and winmm's documented wording otherwise.

#include "platform/ErrorTexts.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

using namespace mm;  // the winmm-shaped MIDI seam

namespace platform::detail {

PortFailure PortGone(const std::string& portName, const std::string& why) {
    std::string text = "The MIDI port \"" + portName + "\" is gone: ";
    text += why.empty() ? "it was unplugged, or its MIDI system stopped." : why;
    return PortFailure{MIDIERR_NODEVICE, text};
}

namespace {

// Failures in our own words get a code of their own for their text, as the system's codes
// have theirs; the newest few are kept.
class FailureTexts {
  public:
    static FailureTexts& Get() {
        static FailureTexts texts;
        return texts;
    }

    MMRESULT CodeFor(const detail::PortFailure& f) {
        if (f.text.empty()) {
            return f.code;
        }
        std::lock_guard lock(mutex_);
        const MMRESULT code = next_++;
        if (next_ > kLast) {
            next_ = kFirst;
        }
        texts_[code] = f.text;
        return code;
    }

    bool Text(MMRESULT code, std::string& text) {
        std::lock_guard lock(mutex_);
        auto it = texts_.find(code);
        if (it == texts_.end()) {
            return false;
        }
        text = it->second;
        return true;
    }

  private:
    static constexpr MMRESULT kFirst = 0x1000;
    static constexpr MMRESULT kLast = kFirst + 63;
    std::mutex mutex_;
    std::map<MMRESULT, std::string> texts_;
    MMRESULT next_ = kFirst;
};

struct ErrorText {
    MMRESULT code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {MMSYSERR_NOERROR, "The specified command was carried out."},
    {MMSYSERR_ERROR, "Undefined external error."},
    {MMSYSERR_BADDEVICEID, "A device ID has been used that is out of range for your system."},
    {MMSYSERR_NOTENABLED, "The driver was not enabled."},
    {MMSYSERR_ALLOCATED,
     "The specified device is already in use. Wait until it is free, and then try again."},
    {MMSYSERR_INVALHANDLE, "The specified device handle is invalid."},
    {MMSYSERR_NODRIVER, "There is no driver installed on your system."},
    {MMSYSERR_NOMEM,
     "There is not enough memory available for this task. Quit one or more applications to "
     "increase available memory, and then try again."},
    {MMSYSERR_NOTSUPPORTED, "This function is not supported by the MIDI system."},
    {MMSYSERR_BADERRNUM, "An error number was specified that is not defined in the system."},
    {MMSYSERR_INVALFLAG, "An invalid flag was passed to a system function."},
    {MMSYSERR_INVALPARAM, "An invalid parameter was passed to a system function."},
    {MIDIERR_UNPREPARED, "The header was not prepared before it was handed to the MIDI system."},
    {MIDIERR_STILLPLAYING,
     "The buffers are still in the queue. Wait until the MIDI system has returned them, or "
     "reset the port first."},
    {MIDIERR_NOMAP, "A MIDI map was not found."},
    {MIDIERR_NOTREADY,
     "The port is transmitting data to the device. Wait until the data has been transmitted, "
     "and then try again."},
    {MIDIERR_NODEVICE,
     "The MIDI device is no longer present. It may have been unplugged, or its MIDI system may "
     "have stopped."},
    {MIDIERR_INVALIDSETUP,
     "The MIDI setup refers to a device that is not present on this machine. Check the "
     "configuration of the MIDI system (ALSA sequencer or JACK) and the cables, and then try "
     "again."},
    {MIDIERR_BADOPENMODE, "The operation is not possible in the mode the port was opened in."},
    {MIDIERR_DONT_CONTINUE, "The driver was told not to go on with this buffer."},
};

}  // namespace

MMRESULT GetErrorText(MMRESULT code, LPSTR text, UINT size) {
    if (text == nullptr || size == 0) {
        return MMSYSERR_INVALPARAM;
    }
    if (std::string own;
        FailureTexts::Get().Text(code, own) || detail::SystemErrorText(code, own)) {
        const std::size_t n = std::min<std::size_t>(own.size(), size - 1);
        std::memcpy(text, own.data(), n);
        text[n] = '\0';
        return MMSYSERR_NOERROR;
    }
    for (const auto& e : kErrorTexts) {
        if (e.code == code) {
            const std::size_t n = std::min<std::size_t>(std::strlen(e.text), size - 1);
            std::memcpy(text, e.text, n);
            text[n] = '\0';
            return MMSYSERR_NOERROR;
        }
    }
    text[0] = '\0';
    return MMSYSERR_BADERRNUM;
}

MMRESULT FailureCode(const PortFailure& failure) {
    return FailureTexts::Get().CodeFor(failure);
}

}  // namespace platform::detail

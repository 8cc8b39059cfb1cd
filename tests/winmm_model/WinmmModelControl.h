// Control of the winmm stand-in (winmm.dll beside the test programs in this folder): devices, wire
// rates, faults, and the checks it makes of its caller. The functions live in the stand-in; the
// loader at the end finds them at run time, so a test program links only the ordinary winmm
// import library.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum { WINMM_MODEL_INPUT = 0, WINMM_MODEL_OUTPUT = 1 };

// Takes the bytes of a message once they have left an output device (on the stand-in's thread).
typedef void (*WinmmModelSink)(void* context, const unsigned char* bytes, unsigned length);

// Back to the start state: only the synth (output 0). Returns 0 if handles were still open (they
// are dropped, and a violation says so), otherwise 1.
int winmmModelReset(void);
// Adds an input or output device at the end of its list; returns its device ID.
unsigned winmmModelAddInput(const char* name);
unsigned winmmModelAddOutput(const char* name);
// The wire rate of a device in baud, 10 bits a byte (0: instant). A new device runs at 31250.
int winmmModelSetBaud(int kind, unsigned id, unsigned baud);
// An input hands its buffer back after every `bytes` bytes of a SysEx message (0: only when full
// or at F7), as drivers that pass on one USB packet a buffer do.
int winmmModelSetPiece(unsigned inputId, unsigned bytes);
// Where the bytes leaving an output go (NULL: nowhere).
int winmmModelSetSink(unsigned outputId, WinmmModelSink sink, void* context);
// Bytes that arrive on an input's wire, one after another at its wire rate; returns at once.
int winmmModelInject(unsigned inputId, const unsigned char* bytes, unsigned length);
// Bytes still on a device's wire: not yet arrived (input) or not yet left (output); for an
// output with a cable, the bytes in the cable's buffer.
unsigned winmmModelWireBytes(int kind, unsigned id);
// Makes the output a cheap USB-MIDI cable without flow control, whose buffer holds `bytes` bytes
// (0: no cable, as at the start). Its driver takes each long-message buffer at USB speed and
// hands it back at once (MOM_DONE), having copied its bytes into the cable's buffer, which
// drains onto the wire at the device's wire rate; a byte that finds that buffer full (a byte
// stays in it until its last bit is on the wire) is lost. Short messages go through the same
// buffer, under the same rule. The sink gets the kept bytes of each message at once when the
// last of them has left the wire. midiOutReset empties the buffer as it does the wire. Zeroes
// the lost count.
int winmmModelSetCable(unsigned outputId, unsigned bytes);
// Bytes the output's cable has lost since winmmModelSetCable.
unsigned long long winmmModelCableLostBytes(unsigned outputId);
// Timer periods begun by timeBeginPeriod and not yet ended (safe to ask from a sink).
int winmmModelTimerPeriods(void);
// The next open of the device fails with `code`, as when another program holds it.
int winmmModelFailNextOpen(int kind, unsigned id, unsigned code);
// The next `count` midiOutLongMsg calls on the output fail with `code` and queue nothing.
int winmmModelFailLongMsg(unsigned outputId, unsigned count, unsigned code);
// Unplugs the device: it leaves its list (the devices after it move down one ID) and its driver
// falls silent: no callback any more, not even for close; the buffers it held stay marked
// MHDR_INQUEUE for good (unprepare answers MIDIERR_STILLPLAYING). Its open handle answers
// MMSYSERR_NODRIVER to messages, midiInAddBuffer, prepare, midiInStart, midiInStop, the resets
// and (see winmmModelIdAfterRemoval) midiInGetID/midiOutGetID. Close succeeds, and the driver
// never touches what it held again.
int winmmModelRemove(int kind, unsigned id);
// Unplugs an input and an output at once, as when an interface with both goes.
int winmmModelRemovePair(unsigned inputId, unsigned outputId);
// With 0, the device's driver, once removed, fails what it held back instead of falling silent:
// output under way or kept past a reset comes back at the removal (MOM_DONE), queued input at
// midiInReset; midiInStop, the resets and close work as before (close with its callback).
int winmmModelSilentRemoval(int kind, unsigned id, int silent);
// Whether the device's open handle, once removed, still answers midiInGetID/midiOutGetID
// (MMSYSERR_NOERROR, with the ID the device had, which may now be another's), as real drivers
// do: removal is not to be told by these.
int winmmModelIdAfterRemoval(int kind, unsigned id, int answers);
// Whether the device is open.
int winmmModelIsOpen(int kind, unsigned id);
// Bytes that arrived on the input with nobody to take them (not open, not started, no buffer).
unsigned long long winmmModelLostBytes(unsigned inputId);
// Callbacks that fell due after midiInClose/midiOutClose returned (never made; should stay 0).
unsigned winmmModelCallbacksAfterClose(void);
// A driver that keeps the long-message buffers past midiOutReset/midiInReset: they stay marked
// MHDR_INQUEUE, with no MOM_DONE/MIM_LONGDATA, for `ms` milliseconds after the reset, or until
// winmmModelReleaseHeld with WINMM_MODEL_HOLD_UNTIL_RELEASED (0: handed back at once, as at
// the start). Meanwhile unprepare and close answer MIDIERR_STILLPLAYING.
#define WINMM_MODEL_HOLD_UNTIL_RELEASED 0xFFFFFFFFu
int winmmModelHoldAfterReset(int kind, unsigned id, unsigned ms);
// Hands every kept buffer back (MHDR_DONE set, MHDR_INQUEUE cleared, then the callback) and
// returns once their callbacks have been made; returns how many. A removed device's stay kept.
unsigned winmmModelReleaseHeld(void);
// Buffers kept past a reset, not yet handed back.
unsigned winmmModelHeldHeaders(void);
// Headers that the driver found freed, reused or changed while it held them (each also a
// violation). The driver then neither writes into such a header nor calls back for it.
unsigned winmmModelHeaderViolations(void);
// Misuse seen since the last reset: how many, and one's text (copied with a NUL, cut to `size`;
// returns the text's full length).
unsigned winmmModelViolationCount(void);
unsigned winmmModelViolationText(unsigned index, char* text, unsigned size);

#ifdef __cplusplus
}

#include <windows.h>

#include <stdexcept>
#include <string>
#include <type_traits>

namespace winmm_model {

// The control functions, found in the winmm.dll that the program has loaded.
struct Control {
    decltype(&winmmModelReset) reset;
    decltype(&winmmModelAddInput) addInput;
    decltype(&winmmModelAddOutput) addOutput;
    decltype(&winmmModelSetBaud) setBaud;
    decltype(&winmmModelSetPiece) setPiece;
    decltype(&winmmModelSetSink) setSink;
    decltype(&winmmModelInject) inject;
    decltype(&winmmModelWireBytes) wireBytes;
    decltype(&winmmModelSetCable) setCable;
    decltype(&winmmModelCableLostBytes) cableLostBytes;
    decltype(&winmmModelTimerPeriods) timerPeriods;
    decltype(&winmmModelFailNextOpen) failNextOpen;
    decltype(&winmmModelFailLongMsg) failLongMsg;
    decltype(&winmmModelRemove) remove;
    decltype(&winmmModelRemovePair) removePair;
    decltype(&winmmModelSilentRemoval) silentRemoval;
    decltype(&winmmModelIdAfterRemoval) idAfterRemoval;
    decltype(&winmmModelIsOpen) isOpen;
    decltype(&winmmModelLostBytes) lostBytes;
    decltype(&winmmModelCallbacksAfterClose) callbacksAfterClose;
    decltype(&winmmModelHoldAfterReset) holdAfterReset;
    decltype(&winmmModelReleaseHeld) releaseHeld;
    decltype(&winmmModelHeldHeaders) heldHeaders;
    decltype(&winmmModelHeaderViolations) headerViolations;
    decltype(&winmmModelViolationCount) violationCount;
    decltype(&winmmModelViolationText) violationText;

    // Every violation's text, one a line.
    std::string violations() const {
        std::string all;
        for (unsigned i = 0, n = violationCount(); i < n; ++i) {
            char text[512];
            violationText(i, text, sizeof text);
            all += text;
            all += '\n';
        }
        return all;
    }
};

// Throws std::runtime_error when the loaded winmm.dll is not the stand-in.
inline Control loadControl() {
    HMODULE dll = GetModuleHandleA("winmm.dll");
    if (!dll) {
        throw std::runtime_error("winmm.dll is not loaded: link the test program with winmm");
    }
    auto find = [dll](auto& function, const char* name) {
        FARPROC address = GetProcAddress(dll, name);
        if (!address) {
            throw std::runtime_error(
                std::string("the winmm.dll loaded is not the winmm stand-in (it has no ") + name +
                "): run the test from the folder that holds the stand-in, with "
                "WINEDLLOVERRIDES=\"winmm=n;winealsa.drv=d\"");
        }
        // Through void (*)(), which converts to and from any function pointer without warning.
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            reinterpret_cast<void (*)()>(address));
    };
    Control c{};
    find(c.reset, "winmmModelReset");
    find(c.addInput, "winmmModelAddInput");
    find(c.addOutput, "winmmModelAddOutput");
    find(c.setBaud, "winmmModelSetBaud");
    find(c.setPiece, "winmmModelSetPiece");
    find(c.setSink, "winmmModelSetSink");
    find(c.inject, "winmmModelInject");
    find(c.wireBytes, "winmmModelWireBytes");
    find(c.setCable, "winmmModelSetCable");
    find(c.cableLostBytes, "winmmModelCableLostBytes");
    find(c.timerPeriods, "winmmModelTimerPeriods");
    find(c.failNextOpen, "winmmModelFailNextOpen");
    find(c.failLongMsg, "winmmModelFailLongMsg");
    find(c.remove, "winmmModelRemove");
    find(c.removePair, "winmmModelRemovePair");
    find(c.silentRemoval, "winmmModelSilentRemoval");
    find(c.idAfterRemoval, "winmmModelIdAfterRemoval");
    find(c.isOpen, "winmmModelIsOpen");
    find(c.lostBytes, "winmmModelLostBytes");
    find(c.callbacksAfterClose, "winmmModelCallbacksAfterClose");
    find(c.holdAfterReset, "winmmModelHoldAfterReset");
    find(c.releaseHeld, "winmmModelReleaseHeld");
    find(c.heldHeaders, "winmmModelHeldHeaders");
    find(c.headerViolations, "winmmModelHeaderViolations");
    find(c.violationCount, "winmmModelViolationCount");
    find(c.violationText, "winmmModelViolationText");
    return c;
}

}  // namespace winmm_model
#endif

#include "upgrade/UpgradeRun.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "bootloader/Commands.h"
#include "image/DeviceProfile.h"
#include "image/FirmwareImage.h"
#include "image/HexReader.h"
#include "platform/Unicode.h"
#include "upgrade/ProgrammingPlan.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro {

namespace {

std::string AtAddress(const char* format, int32_t address) {
    char text[256];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(address));
    return text;
}

std::string AtAddressCount(const char* format, int32_t address, int count) {
    char text[160];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(address), count);
    return text;
}

struct Tally {
    std::vector<std::string> lines;
    std::vector<std::string> notes;  // what the run did by itself to get through
    int32_t errors = 0;
    int32_t warnings = 0;
};

// Reads block B back and compares its valid bytes; false when the run must stop.
bool CheckWrittenBlock(MidiPortPair& pair, const uint8_t* expected, int32_t valid, int32_t b,
                       Tally& tally) {
    uint8_t read[kBlockSize];
    std::memset(read, 0xFF, sizeof read);
    if (!ReadBlock(pair, static_cast<uint32_t>(b) >> 1, read)) {
        ++tally.errors;
        tally.lines.push_back(
            AtAddress("Error: Failed reading from flash memory at adress [%x]", b));
        return false;
    }
    int mismatches = 0, warnings = 0;
    for (int32_t j = 0; j < valid; ++j) {
        if (expected[j] == read[j]) {
            continue;
        }
        if (expected[j] == 0xFF && read[j] == 0x00) {
            if (((j + b) & 3) != 3) {
                ++warnings;  // the phantom byte of a word always reads 0x00
            }
            continue;
        }
        ++mismatches;
    }
    tally.errors += mismatches;
    tally.warnings += warnings;
    if (mismatches > 0) {
        tally.lines.push_back(AtAddressCount(
            "Error: Failed verifying flash memory at adress [%x]. %d bytes wrong.", b, mismatches));
        return false;
    }
    if (warnings > 0) {
        tally.lines.push_back(AtAddressCount(
            "Warning: Some FF bytes were read as 00 at adress [%x]. Occured in %d bytes.", b,
            warnings));
    }
    return true;
}

constexpr const char* kTryAnotherLink =
    "try another interface or cable"
#if defined(__linux__)
    ", or the ALSA sequencer instead of a JACK bridge"
#endif
    ".";

// How the check before the erase ended.
enum class LinkCheck { Passed, Skipped, Failed };

// The bootloader cannot read back: told, or asked whether to go on without the check.
LinkCheck Unchecked(MessageSeam& messages, const UpgradeOptions& options, Tally& tally) {
    if (options.uncheckedLink == UncheckedLink::Ask) {
        const MessageAnswer answer = messages.Show(
            "The unit's bootloader does not read back its flash memory, so the link cannot be "
            "checked before the erase. Should the MIDI interface or cable lose long System "
            "Exclusive messages, the first write fails after the erase: the unit is then left "
            "without its application, in its bootloader, and can be upgraded again.\r\n\r\n"
            "Erase and write the unit without the check?",
            MessageButtons::YesNoDefaultNo);
        if (answer == MessageAnswer::Yes)
            return LinkCheck::Skipped;
    }
    ++tally.errors;
    tally.lines.push_back(
        "Error: The unit's bootloader did not read back its flash memory (it answered with "
        "another code), so the link could not be checked and nothing was erased or written: "
        "the unit is unchanged.");
    if (!options.uncheckedHint.empty())
        tally.lines.push_back(options.uncheckedHint);
    return LinkCheck::Failed;
}

// Before anything changes the flash: the unit must answer a short request (it is there, in its
// bootloader, on these ports), then send back one block of its flash (a long reply through the
// whole input path). The read proves the way towards the computer only; the way towards the
// unit carries long messages first with the first write.
LinkCheck CheckLink(MidiPortPair& pair, UpgradeProgress& progress, MessageSeam& messages,
                    const ProgrammingPlan& plan, const UpgradeOptions& options, Tally& tally) {
    progress.Checking(UpgradeProgress::Check::Versions);
    uint8_t v[4];
    if (!QueryVersions(pair, v[0], v[1], v[2], v[3])) {
        ++tally.errors;
        tally.lines.push_back(
            "Error: The unit did not answer, so nothing was erased or written: the unit is "
            "unchanged.");
        tally.lines.push_back(
            "Check that the unit is in its bootloader (step 3) and that the MIDI IN and OUT "
            "ports chosen are those of the interface cabled to the unit (step 2).");
        return LinkCheck::Failed;
    }
    if (!options.linkCheck)
        return LinkCheck::Skipped;
    progress.Checking(UpgradeProgress::Check::ReadBack);
    uint8_t block[kBlockSize];
    switch (ReadBlockFully(pair, static_cast<uint32_t>(plan.front().start) >> 1, block)) {
        case ReadResult::Read:
            return LinkCheck::Passed;
        case ReadResult::Refused:
            return Unchecked(messages, options, tally);
        case ReadResult::Lost:
            break;
    }
    ++tally.errors;
    tally.lines.push_back(
        "Error: The unit did not send back a block of its flash memory, so nothing was erased "
        "or written: the unit is unchanged.");
    tally.lines.push_back(std::string("The unit answers short messages, so the MIDI interface or "
                                      "cable loses long System Exclusive messages on their way "
                                      "to the computer: ") +
                          kTryAnotherLink);
    return LinkCheck::Failed;
}

// The first write failed: the erase went through, so the unit has no application now.
void FirstWriteFailed(LinkCheck check, Tally& tally) {
    tally.lines.push_back(
        "The application area was erased; the bootloader is untouched, so the unit stays in it "
        "and can be upgraded again (step 3).");
    tally.lines.push_back(
        check == LinkCheck::Passed
            ? std::string("The unit sent back a block of its flash, but did not acknowledge the "
                          "first block written to it: this link loses long System Exclusive "
                          "messages on their way to the unit: ") +
                  kTryAnotherLink
            : std::string("The link was not checked: it may lose long System Exclusive "
                          "messages: ") +
                  kTryAnotherLink);
}

// Tells once from which block on long messages were paced because the link lost them.
void NotePacing(const MidiPortPair& pair, int32_t b, const UpgradeOptions& options, Tally& tally) {
    if (!pair.PacedAfterLoss() || !tally.notes.empty()) {
        return;
    }
    tally.notes.push_back(AtAddress(
        "Note: The unit did not answer a long message, as when the MIDI interface or cable loses "
        "long System Exclusive messages, so from the block at address [%x] on they were sent in "
        "pieces at the wire's own rate.",
        b));
    if (!options.pacedHint.empty())
        tally.notes.push_back(options.pacedHint);
}

// Erases and writes the plan; the first error ends it.
void Program(MidiPortPair& pair, UpgradeProgress& progress, MessageSeam& messages,
             const FirmwareImage& image, const ProgrammingPlan& plan, const UpgradeOptions& options,
             Tally& tally) {
    const LinkCheck check = CheckLink(pair, progress, messages, plan, options, tally);
    if (check == LinkCheck::Failed) {
        return;
    }
    int32_t position = 0;
    uint8_t block[kBlockSize];
    for (const auto& segment : plan) {
        if (!ErasePages(pair, static_cast<uint8_t>(ErasePageCount(segment)),
                        static_cast<uint32_t>(segment.start) >> 1)) {
            ++tally.errors;
            tally.lines.push_back("Error: Failed erasing flash memory");
            return;
        }
        for (int32_t k = 0; k < BlockCount(segment); ++k) {
            progress.SetDone(position);
            ++position;
            const int32_t valid = FillBlock(image, segment, k, block);
            const int32_t b = segment.start + kBlockSize * k;
            const bool written = WriteBlock(pair, block, static_cast<uint32_t>(b) >> 1);
            NotePacing(pair, b, options, tally);
            if (!written) {
                ++tally.errors;
                tally.lines.push_back(
                    AtAddress("Error: Failed writing to flash memory at adress [%x]", b));
                if (position == 1)
                    FirstWriteFailed(check, tally);
                return;
            }
            if (options.readBack && !CheckWrittenBlock(pair, block, valid, b, tally)) {
                return;
            }
        }
    }
}

void Report(MidiPortPair& pair, MessageSeam& messages, const Tally& tally, bool failed) {
    std::string notes;
    for (const auto& line : tally.notes)
        notes += line + "\r\n";
    if (failed) {
        std::string text = "VANTRO Update FAILED:\r\n";
        for (const auto& line : tally.lines)
            text += line + "\r\n";
        messages.Show(text + notes, MessageButtons::Ok);
        return;
    }
    std::string text;
    if (tally.warnings == 0 && notes.empty()) {
        text = "VANTRO Update is completed and OK!\r\nRestart VANTRO?";
    } else if (tally.warnings == 0) {
        text = "VANTRO Update is completed and OK!\r\n\r\n" + notes + "\r\nRestart VANTRO?";
    } else {
        text = "VANTRO Update is completed and OK!\r\n\r\nA few warnings were detected:\r\n";
        for (const auto& line : tally.lines)
            text += line + "\r\n";
        text += notes + "\r\nRestart VANTRO?";
    }
    if (messages.Show(text, MessageButtons::YesNo) == MessageAnswer::Yes) {
        SendRestart(pair);
    }
}

struct Run {
    const UpgradeRequest& request;
    UpgradeProgress& progress;
    MessageSeam& messages;
    const UpgradeOptions& options;
};

// From the pair on: the ports, the load, the plan, the programming and the report.
// resetProgress is set once the progress bar must go back to 0 at the end.
UpgradeOutcome RunOnPorts(const Run& run, bool& resetProgress) {
    auto pair =
        std::make_unique<MidiPortPair>(&run.messages, run.options.timings, run.options.trace);
    if (run.options.ownCapture)
        pair->UseOwnCapture();
    const int in = run.request.inPort;
    const int out = run.request.outPort;
    if (in < 0 || out < 0) {
        run.messages.Show(kInvalidDeviceSelected, MessageButtons::Ok);
        return UpgradeOutcome::Refused;
    }
    resetProgress = true;
    pair->OpenPorts(static_cast<UINT>(in), static_cast<UINT>(out));

    auto profile = std::make_unique<DeviceProfile>();
    profile->DescribePic24FJ64GB002();
    auto image = std::make_unique<FirmwareImage>();
    if (!LoadHexFile(*profile, run.request.firmwarePath, *image, run.messages)) {
        return UpgradeOutcome::Refused;  // nothing erased or written from a failed load
    }
    const ProgrammingPlan plan = BuildProgrammingPlan(*image);
    run.progress.SetTotal(TotalBlockCount(plan));

    Tally tally;
    if (plan.empty()) {
        // VerifyOK would declare whatever the unit holds (perhaps nothing) a valid application.
        tally.lines.push_back(
            "Error: The file holds nothing for the application area (from byte address 0x2800 "
            "on), so nothing was erased or written: the unit is unchanged.");
        Report(*pair, run.messages, tally, true);
        return UpgradeOutcome::Failed;
    }
    Program(*pair, run.progress, run.messages, *image, plan, run.options, tally);
    bool failed = tally.errors != 0;
    if (!failed && !SendVerifyOK(*pair)) {
        tally.lines.push_back("Error: Sending VerifyOK failed.");
        failed = true;
    }
    Report(*pair, run.messages, tally, failed);
    return failed ? UpgradeOutcome::Failed : UpgradeOutcome::Completed;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(platform::PathFromUtf8(path), ec);
}

}  // namespace

UpgradeOutcome RunUpgrade(const UpgradeRequest& request, UpgradeProgress& progress,
                          MessageSeam& messages, const UpgradeOptions& options) {
    const std::string& path = request.firmwarePath;
    if (path.empty()) {
        messages.Show("Please load a file!", MessageButtons::Ok);
        return UpgradeOutcome::Refused;
    }
    if (!FileExists(path)) {
        messages.Show("The file does not exist", MessageButtons::Ok);
        return UpgradeOutcome::Refused;
    }
    progress.Running(true);

    UpgradeOutcome outcome = UpgradeOutcome::Refused;
    std::optional<std::string> portError;
    {
        // Every way out from here ends the run for whatever shows it; once the ports are to be
        // opened (or a port failed), the progress goes back to 0 as well. The run's objects
        // are released first, the pair last (it closes both ports).
        struct PutBack {
            UpgradeProgress& progress;
            bool resetProgress = false;
            ~PutBack() {
                progress.Running(false);
                if (resetProgress)
                    progress.SetDone(0);
            }
        } putBack{progress};
        try {
            outcome = RunOnPorts(Run{request, progress, messages, options}, putBack.resetProgress);
        } catch (const std::exception& e) {
            portError = e.what();
            putBack.resetProgress = true;
        }
    }
    if (portError) {
        // Told once the ports are closed and the dialog is put back.
        messages.Show(*portError, MessageButtons::Ok);
        return UpgradeOutcome::PortError;
    }
    return outcome;
}

}  // namespace vantro

// The Win32 window of the assistant under Wine, driven by its controls' identifiers as the
// window system would deliver clicks: its start from the template, its placing and answers to
// window messages, and that its controls and messages reach the assistant. Message boxes, the
// file chooser and the about box through seams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../midi/MidiTestSupport.h"
#include "app/win32/Win32Dialog.h"
// windows.h first
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>

#include "../CableRuns.h"
#include "../FlashCheck.h"
#include "../HexFiles.h"
#include "app/win32/CommandLine.h"
#include "app/win32/resource.h"
#include "bootloader/Frame.h"
#include "midi/MidiInDevice.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"

namespace vantro::win32 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
const LinkTimings kPatient{std::chrono::milliseconds(50), 100, 3, true, {}, {}, true};

std::string Text(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::vector<std::string> Entries(HWND dialog, int id) {
    std::vector<std::string> entries;
    const auto n = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        char text[64] = {};
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

int Selection(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

// A button click as the button sends it to its dialog.
void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Lets posted messages (a device watch's) reach the dialog until f holds, with a bound.
template <typename F>
bool PumpUntil(F f) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!f()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    }
    return true;
}

class Win32DialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{8, 0xFF};  // as the program starts: the progress bar
        InitCommonControlsEx(&controls);
    }
    HWND Open(CVANTRODlg& dlg) {
        dlg.SetLinkTimings(kPatient);
        dlg.SetFileChooser([this]() -> std::optional<std::string> {
            ++fileDialogs_;
            return chosen_;
        });
        dlg.SetAboutRunner([this] { ++aboutBoxes_; });
        const HWND hwnd = dlg.Create();
        EXPECT_NE(hwnd, nullptr);
        return hwnd;
    }
    RecordingMessageSeam messages_{MessageAnswer::Yes};
    std::optional<std::string> chosen_ = kExample;
    int fileDialogs_ = 0;
    int aboutBoxes_ = 0;
};

TEST_F(Win32DialogTest, StartStateFromTheTemplate) {
    sim::InProcessUnit unit;
    CVANTRODlg dlg(&messages_);
    const HWND hwnd = Open(dlg);
    char caption[64] = {};
    GetWindowTextA(hwnd, caption, sizeof caption);
    EXPECT_STREQ(caption, "VANTRO Assistant V1.1");
    EXPECT_EQ(Text(hwnd, IDC_STATUS), "");
    EXPECT_EQ(Text(hwnd, IDC_FIRMWARE_PATH), "");
    EXPECT_THAT(Entries(hwnd, IDC_IN_PORTS), ElementsAre(sim::kUnitPortName));
    EXPECT_EQ(Selection(hwnd, IDC_IN_PORTS), 0);
    EXPECT_EQ(Selection(hwnd, IDC_OUT_PORTS), 0);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd, IDC_REFRESH)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd, IDC_RESET)));
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(hwnd, IDC_STATUS), GWL_STYLE) & ES_READONLY);
    for (int id = IDC_STEP1; id <= IDC_STEP6; ++id) {
        LOGFONTA lf{};
        const auto font = reinterpret_cast<HFONT>(SendDlgItemMessageA(hwnd, id, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr) << id;
        GetObjectA(font, sizeof lf, &lf);
        EXPECT_EQ(lf.lfWeight, 600) << id;
    }
    // The about item and the find item end the system menu, after a separator.
    const HMENU menu = GetSystemMenu(hwnd, FALSE);
    const int items = GetMenuItemCount(menu);
    ASSERT_GE(items, 3);
    EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(items - 3), MF_BYPOSITION) & MF_SEPARATOR,
              static_cast<UINT>(MF_SEPARATOR));
    for (const auto& [at, id, text] : {std::tuple{2, IDM_ABOUT, "&About VANTRO..."},
                                       std::tuple{1, IDM_FIND, "&Find the VANTRO unit"}}) {
        char item[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(items - at), item, sizeof item, MF_BYPOSITION);
        EXPECT_STREQ(item, text);
        EXPECT_EQ(GetMenuItemID(menu, items - at), static_cast<UINT>(id));
    }
    SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUT | 0x3, 0);
    EXPECT_EQ(aboutBoxes_, 1);
    dlg.SetFindWait(std::chrono::seconds(5));        // ends at the unit's answer
    SendMessageA(hwnd, WM_SYSCOMMAND, IDM_FIND, 0);  // found as Verify would show it
    EXPECT_EQ(Text(hwnd, IDC_STATUS), "OK - BL V1.2, FW V3.4");
    EXPECT_THAT(messages_.Texts(), IsEmpty());
}

TEST_F(Win32DialogTest, TheSixStepsByClicks) {
    sim::InProcessUnit unit;
    CVANTRODlg dlg(&messages_);
    const HWND hwnd = Open(dlg);
    Click(hwnd, IDC_BROWSE);
    EXPECT_THAT(messages_.Texts(), ElementsAre("Please verify the connection!"));
    Click(hwnd, IDC_VERIFY);
    EXPECT_EQ(Text(hwnd, IDC_STATUS), "OK - BL V1.2, FW V3.4");
    Click(hwnd, IDC_BROWSE);
    EXPECT_EQ(fileDialogs_, 1);
    EXPECT_EQ(Text(hwnd, IDC_FIRMWARE_PATH), kExample);
    SetFocus(GetDlgItem(hwnd, IDC_UPGRADE));  // as a click or Tab leaves it
    Click(hwnd, IDC_UPGRADE);
    EXPECT_EQ(messages_.Texts().back(), "VANTRO Update is completed and OK!\r\nRestart VANTRO?");
    EXPECT_EQ(unit.Core().Requests(code::kWriteBlock), 104);
    EXPECT_TRUE(testutil::Eventually([&] { return unit.Core().Restarts() == 1; }));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_UPGRADE)));
    EXPECT_EQ(SendDlgItemMessageA(hwnd, IDC_PROGRESS, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(hwnd, IDC_PROGRESS, PBM_GETRANGE, FALSE, 0), 104);
    // The focus is back on the button the run disabled: the next Enter does not quit.
    EXPECT_EQ(GetFocus(), GetDlgItem(hwnd, IDC_UPGRADE));
}

// Over a cable that loses long messages the run paces them by itself and says so.
TEST_F(Win32DialogTest, UpgradesOverACableThatLosesLongMessagesWithTheNote) {
    sim::SimOptions cable;
    cable.fifo = 64;
    sim::InProcessUnit unit(cable);
    const testutil::TempFile fw(testutil::ApplicationBlocks(3), "fw.hex");
    chosen_ = fw.Path();
    CVANTRODlg dlg(&messages_);
    const HWND hwnd = Open(dlg);
    dlg.SetLinkTimings(LinkTimings{std::chrono::milliseconds(2), 25, 3, true, {}, {}, true});
    Click(hwnd, IDC_VERIFY);
    Click(hwnd, IDC_BROWSE);
    Click(hwnd, IDC_UPGRADE);
    EXPECT_TRUE(testutil::PacedFromTheFirstBlock(messages_.Texts().back()));
    EXPECT_TRUE(testutil::FlashHoldsTheFile(unit.Core().FlashDump(), fw.Path()));
}

TEST_F(Win32DialogTest, PlacedAndAnsweredAsTheFrameworkDoes) {
    sim::InProcessUnit unit;
    CVANTRODlg dlg(&messages_);
    const HWND hwnd = Open(dlg);
    // Centred on the work area, as a dialog whose template gives no position.
    RECT area{}, r{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(hwnd, &r);
    EXPECT_NEAR((r.left + r.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, (area.top + area.bottom) / 2, 1);
    // A device change is answered through the dialog's message result.
    EXPECT_EQ(SendMessageA(hwnd, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0), TRUE);
    // The dropped list is as wide as the longest port name.
    const HWND in = GetDlgItem(hwnd, IDC_IN_PORTS);
    const HDC dc = GetDC(in);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(in, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, sim::kUnitPortName, static_cast<int>(strlen(sim::kUnitPortName)),
                          &extent);
    ReleaseDC(in, dc);
    EXPECT_GT(SendMessageA(in, CB_GETDROPPEDWIDTH, 0, 0), extent.cx);
}

TEST_F(Win32DialogTest, DeviceChangeRefreshesAndSelectsTheLastAgain) {
    platform::VirtualInputPort a("first in"), b("second in");
    CVANTRODlg dlg(&messages_);
    const HWND hwnd = Open(dlg);
    SendDlgItemMessageA(hwnd, IDC_IN_PORTS, CB_SETCURSEL, 0, 0);  // the user's choice
    SendMessageA(hwnd, WM_DEVICECHANGE, 0x0007, 0);               // DBT_DEVNODES_CHANGED
    EXPECT_EQ(Selection(hwnd, IDC_IN_PORTS), 1);
    platform::VirtualInputPort c("third in");  // the watch posts its own change
    EXPECT_TRUE(PumpUntil([&] { return Entries(hwnd, IDC_IN_PORTS).size() == 3; }));
    EXPECT_EQ(Selection(hwnd, IDC_IN_PORTS), 2);
    EXPECT_EQ(Selection(hwnd, IDC_OUT_PORTS), -1);  // no output port at all
    Click(hwnd, IDC_VERIFY);
    EXPECT_THAT(messages_.Texts(), ElementsAre("Invalid device selected"));
}

// Answers the next dialog box the thread opens, as it is activated (its controls are there).
class NextDialogBox {
  public:
    explicit NextDialogBox(std::function<void(HWND)> answer) {
        answer_ = std::move(answer);
        hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~NextDialogBox() {
        UnhookWindowsHookEx(hook_);
        answer_ = nullptr;
    }
    NextDialogBox(const NextDialogBox&) = delete;
    NextDialogBox& operator=(const NextDialogBox&) = delete;

  private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        char name[16] = {};
        const auto box = reinterpret_cast<HWND>(wParam);
        if (code == HCBT_ACTIVATE && answer_ && GetClassNameA(box, name, sizeof name) > 0 &&
            std::strcmp(name, "#32770") == 0) {
            auto answer = std::move(answer_);
            answer_ = nullptr;
            answer(box);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline std::function<void(HWND)> answer_;
    HHOOK hook_ = nullptr;
};

TEST_F(Win32DialogTest, AFirmwareInAFolderInAnyScript) {
    const testutil::TempFolder folder("Прошивка ファーム");
    const std::string hex = folder.Path() + "\\vantro-demo.hex";
    const std::wstring wide = testutil::Utf8Path(hex).wstring();
    std::filesystem::copy_file(kExample, testutil::Utf8Path(hex));
    sim::InProcessUnit unit;
    CVANTRODlg dlg(&messages_);  // with the system's file chooser
    dlg.SetLinkTimings(kPatient);
    const HWND hwnd = dlg.Create();
    ASSERT_NE(hwnd, nullptr);
    Click(hwnd, IDC_VERIFY);
    {
        // The name typed into the chooser, then Open.
        const NextDialogBox chooser([&](HWND box) {
            SetDlgItemTextW(box, 0x47C /* cmb13 */, wide.c_str());
            SetDlgItemTextW(box, 0x480 /* edt1 */, wide.c_str());
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);  // ends it if the name was refused
        });
        Click(hwnd, IDC_BROWSE);
    }
    wchar_t shown[1024] = {};
    GetDlgItemTextW(hwnd, IDC_FIRMWARE_PATH, shown, 1024);
    EXPECT_EQ(std::wstring(shown), wide);
    Click(hwnd, IDC_UPGRADE);
    EXPECT_EQ(messages_.Texts().back(), "VANTRO Update is completed and OK!\r\nRestart VANTRO?");
    EXPECT_TRUE(testutil::FlashHoldsTheFile(unit.Core().FlashDump(), hex));
    // A message box names it as it is (a flash dump that cannot be written, say).
    std::wstring told;
    {
        const NextDialogBox box([&](HWND b) {
            EnumChildWindows(
                b,
                [](HWND child, LPARAM texts) {
                    wchar_t text[1024] = {};
                    GetWindowTextW(child, text, 1024);
                    *reinterpret_cast<std::wstring*>(texts) += text;
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&told));
            PostMessageW(b, WM_COMMAND, IDOK, 0);
        });
        Win32MessageSeam(nullptr).Show("Could not write '" + hex + "'", MessageButtons::Ok);
    }
    EXPECT_THAT(told, ::testing::HasSubstr(L"Could not write '" + wide + L"'"));
}

TEST(RestartCommandLine, GivesEachArgumentBackAsTheSystemSplitsIt) {
    const std::vector<std::string> args = {"--simulated-unit",
                                           "--sim-flash-out",
                                           "C:\\Прошивка ファーム\\flash.bin",
                                           "",
                                           "say \"hi\"",
                                           "C:\\ends in\\",
                                           "a\\\\\"b",
                                           "--restarted"};
    int n = 0;
    const std::wstring line = L"VANTRO.exe " + RestartCommandLine(args);
    LPWSTR* split = CommandLineToArgvW(line.c_str(), &n);
    ASSERT_NE(split, nullptr);
    std::vector<std::wstring> got(split + 1, split + n);
    LocalFree(split);
    std::vector<std::wstring> expected = {L"--restarted"};
    for (std::size_t i = 0; i + 1 < args.size(); ++i)  // --restarted once, at the front
        expected.push_back(testutil::Utf8Path(args[i]).wstring());
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace vantro::win32

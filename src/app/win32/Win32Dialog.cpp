#include "app/win32/Win32Dialog.h"

#include <algorithm>
#include <utility>

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "app/win32/FontDc.h"
#include "app/win32/StepFit.h"
#include "app/win32/resource.h"
#include "platform/Unicode.h"

namespace vantro::win32 {

namespace {

// Posted when another thread has handed the dialog's thread something to run.
constexpr UINT kRunQueued = WM_APP + 1;

std::optional<std::string> AskForHexFile(HWND owner) {
    // The flags of the open dialog; resizing where the system is newer than 4.0.
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    DWORD flags = 0x81004;  // OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY
    if (version.dwMajorVersion > 4 || (version.dwMajorVersion == 4 && version.dwMinorVersion > 0))
        flags |= OFN_ENABLESIZING;
    std::vector<wchar_t> name(65535, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;  // modal to the assistant, centred over it, no taskbar button of its own
    ofn.lpstrFilter = L"(*.hex)\0*.hex\0";
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = 0x7FFF;
    ofn.lpstrDefExt = L"*.*";
    ofn.Flags = flags;
    if (!GetOpenFileNameW(&ofn))
        return std::nullopt;
    return platform::Utf8FromWide(name.data());
}

// Centres window over the owner's rectangle, or over the work area without an owner, as the
// framework places a dialog whose template gives no position; kept inside the work area.
void CentreOver(HWND window, HWND owner) {
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT over = area;
    if (owner != nullptr)
        GetWindowRect(owner, &over);
    RECT r{};
    GetWindowRect(window, &r);
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    LONG x = (over.left + over.right - w) / 2, y = (over.top + over.bottom - h) / 2;
    x = std::max(area.left, std::min(x, area.right - w));
    y = std::max(area.top, std::min(y, area.bottom - h));
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// CAboutDlg: no members, no handlers of its own; OK, Escape and the close box end it.
INT_PTR CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        CentreOver(hwnd, GetWindow(hwnd, GW_OWNER));
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

bool IsInputFor(HWND dialog, const MSG& msg) {
    const bool input = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                       (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST) ||
                       (msg.message >= WM_NCMOUSEMOVE && msg.message <= WM_NCXBUTTONDBLCLK);
    return input && (msg.hwnd == dialog || IsChild(dialog, msg.hwnd));
}

}  // namespace

std::string ApplicationTitle() {
    std::vector<wchar_t> path(32768, L'\0');
    GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return assistant::ProgramTitle(platform::Utf8FromWide(path.data()));
}

MessageAnswer Win32MessageSeam::Show(const std::string& text, MessageButtons buttons) {
    const HWND owner = owner_ != nullptr ? *owner_ : nullptr;
    const std::wstring wide = platform::WideFromUtf8(text);
    const std::wstring caption = platform::WideFromUtf8(ApplicationTitle());
    if (buttons == MessageButtons::Ok) {
        MessageBoxW(owner, wide.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
        return MessageAnswer::Ok;
    }
    return MessageBoxW(owner, wide.c_str(), caption.c_str(),
                       MB_YESNO | MB_ICONQUESTION |
                           (buttons == MessageButtons::YesNoDefaultNo ? MB_DEFBUTTON2 : 0)) == IDYES
               ? MessageAnswer::Yes
               : MessageAnswer::No;
}

CVANTRODlg::CVANTRODlg(MessageSeam* messages, std::string notice)
    : messages_(messages),
      chooseFile_([this] { return AskForHexFile(m_hWnd); }),
      assistant_(*this, std::move(notice)) {
    if (messages_ == nullptr) {
        ownSeam_ = std::make_unique<Win32MessageSeam>(&m_hWnd);
        messages_ = ownSeam_.get();
    }
    m_hAppIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    runAbout_ = [this] {
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), m_hWnd, &AboutProc,
                        0);
    };
}

CVANTRODlg::~CVANTRODlg() {
    assistant_.Stop();  // no notification may reach a dialog that is going
    if (m_hWnd != nullptr && !modal_)
        DestroyWindow(m_hWnd);
}

INT_PTR CVANTRODlg::DoModal() {
    modal_ = true;
    // Unicode controls: an ANSI edit control would keep a path in the code page's letters.
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ASSISTANT), nullptr,
                           &DlgProc, reinterpret_cast<LPARAM>(this));
}

HWND CVANTRODlg::Create() {
    modal_ = false;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ASSISTANT), nullptr,
                              &DlgProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CVANTRODlg::DlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CVANTRODlg*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        CentreOver(hwnd, nullptr);
        FitStepTexts(hwnd);  // Tahoma sets the template's step texts wider than it allowed
        self->assistant_.Start();
        return TRUE;  // the focus goes to the first tab stop, "Quit"
    }
    auto* self = reinterpret_cast<CVANTRODlg*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CVANTRODlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED)
                assistant_.OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            return assistant_.OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
        case WM_DEVICECHANGE:
            assistant_.OnDeviceChange();
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);  // a dialog answers through it
            return TRUE;
        case kRunQueued:
            RunQueued();
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id >= IDC_STEP1 && id <= IDC_STEP6)
                return reinterpret_cast<INT_PTR>(
                    m_lblSteps[id - IDC_STEP1].CtlColor(reinterpret_cast<HDC>(wParam)));
            return FALSE;
        }
        case WM_SETCURSOR:
            if (waitCursor_) {
                SetCursor(LoadCursorA(nullptr, IDC_WAIT));
                SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (IsIconic(m_hWnd)) {
                OnPaint();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hAppIcon);
        case WM_CLOSE:
            assistant_.OnClose();
            return TRUE;
        case WM_DESTROY: {
            assistant_.Stop();
            std::lock_guard lock(queueMutex_);
            queue_.clear();
            for (auto& label : m_lblSteps)
                label.OnDestroy();
            return FALSE;
        }
        default:
            return FALSE;
    }
}

void CVANTRODlg::RunQueued() {
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty())
                return;
            f = std::move(queue_.front());
            queue_.pop_front();
        }
        f();
    }
}

void CVANTRODlg::RunOnUiThread(std::function<void()> f) {
    std::lock_guard lock(queueMutex_);
    if (m_hWnd == nullptr)
        return;
    queue_.push_back(std::move(f));
    PostMessageA(m_hWnd, kRunQueued, 0, 0);
}

void CVANTRODlg::MakeStepCaptionsBold() {
    for (int i = 0; i < 6; ++i) {
        m_lblSteps[i].Attach(Item(IDC_STEP1 + i));
        m_lblSteps[i].MakeBold();
    }
}

void CVANTRODlg::AddMenuSeparator() {
    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE))
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
}

void CVANTRODlg::AddMenuItem(unsigned id, const std::string& text) {
    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE))
        AppendMenuA(menu, MF_STRING, id, text.c_str());
}

void CVANTRODlg::ShowIcons() {
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hAppIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));
}

void CVANTRODlg::ShowAbout() {
    runAbout_();
}

void CVANTRODlg::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - cx + 1) / 2;
    const int y = (rect.bottom - rect.top - cy + 1) / 2;
    DrawIcon(dc, x, y, m_hAppIcon);
    EndPaint(m_hWnd, &ps);
}

void CVANTRODlg::End(int result) {
    if (modal_) {
        EndDialog(m_hWnd, result);
    } else {
        DestroyWindow(m_hWnd);
        std::lock_guard lock(queueMutex_);
        m_hWnd = nullptr;
    }
}

// ---- the controls, as the assistant uses them ---------------------------------------------

int CVANTRODlg::ListId(assistant::PortList list) const {
    return list == assistant::PortList::In ? IDC_IN_PORTS : IDC_OUT_PORTS;
}

void CVANTRODlg::ShowPorts(assistant::PortList list, const std::vector<std::string>& names,
                           int selected, const std::string&) {
    // A drop-down list of the classic controls has no cue banner: an empty list stays empty.
    const HWND combo = Item(ListId(list));
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    LONG widest = 0;
    {
        const FontDc dc(combo);
        for (const std::string& name : names) {
            SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
            SIZE extent{};
            GetTextExtentPoint32A(dc.Get(), name.c_str(), static_cast<int>(name.size()), &extent);
            widest = std::max(widest, extent.cx);
        }
    }
    // The dropped list as wide as its longest name, as the Qt window's is; never narrower
    // than the box.
    RECT box{};
    GetWindowRect(combo, &box);
    const LONG wanted = widest + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL);
    SendMessageA(combo, CB_SETDROPPEDWIDTH,
                 static_cast<WPARAM>(std::max(wanted, box.right - box.left)), 0);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int CVANTRODlg::SelectedPort(assistant::PortList list) {
    return static_cast<int>(SendDlgItemMessageA(m_hWnd, ListId(list), CB_GETCURSEL, 0, 0));
}

void CVANTRODlg::ShowStatus(const std::string& text) {
    SetDlgItemTextW(m_hWnd, IDC_STATUS, platform::WideFromUtf8(text).c_str());
}

void CVANTRODlg::ShowFirmwarePath(const std::string& path) {
    SetDlgItemTextW(m_hWnd, IDC_FIRMWARE_PATH, platform::WideFromUtf8(path).c_str());
}

void CVANTRODlg::ShowProgress(int done, int total) {
    SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, total));
    SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

void CVANTRODlg::EnableUpgrade(bool enabled) {
    EnableWindow(Item(IDC_UPGRADE), enabled ? TRUE : FALSE);
}

void CVANTRODlg::FocusUpgrade() {
    // As the dialog manager moves focus: the default-button look follows.
    SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_UPGRADE)), TRUE);
}

std::optional<std::string> CVANTRODlg::ChooseHexFile() {
    return chooseFile_();
}

void CVANTRODlg::ShowWaitCursor(bool shown) {
    waitCursor_ = shown;
    SetCursor(LoadCursorA(nullptr, shown ? IDC_WAIT : IDC_ARROW));
}

void CVANTRODlg::KeepPainting() {
    // The window paints and answers the system; input meant for it is dropped meanwhile, as
    // a modal action would ignore it. Message boxes have their own loop.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (IsInputFor(m_hWnd, msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace vantro::win32

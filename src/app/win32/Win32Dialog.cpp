#include "app/win32/Win32Dialog.h"

#include <algorithm>
#include <utility>

#include <commctrl.h>
#include <commdlg.h>
#include <shlwapi.h>

#include <vector>

#include "app/win32/resource.h"
#include "platform/DeviceChange.h"

namespace vantro::win32 {

namespace {

// Posted by the device watch (the in-process ports, which raise no WM_DEVICECHANGE).
constexpr UINT kPortsChanged = WM_APP + 1;

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
    std::vector<char> name(65535, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;  // modal to the assistant, centred over it, no taskbar button of its own
    ofn.lpstrFilter = "(*.hex)\0*.hex\0";
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = 0x7FFF;
    ofn.lpstrDefExt = "*.*";
    ofn.Flags = flags;
    if (!GetOpenFileNameA(&ofn))
        return std::nullopt;
    return std::string(name.data());
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
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    if (const auto slash = name.find_last_of("\\/"); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos)
        name.erase(dot);
    return name;
}

MessageAnswer Win32MessageSeam::Show(const std::string& text, MessageButtons buttons) {
    const HWND owner = owner_ != nullptr ? *owner_ : nullptr;
    if (buttons == MessageButtons::Ok) {
        MessageBoxA(owner, text.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
        return MessageAnswer::Ok;
    }
    return MessageBoxA(owner, text.c_str(), ApplicationTitle().c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES
               ? MessageAnswer::Yes
               : MessageAnswer::No;
}

CVANTRODlg::CVANTRODlg(MessageSeam* messages)
    : messages_(messages),
      chooseFile_([this] { return AskForHexFile(m_hWnd); }),
      normalCursor_(*this),
      actions_(*this) {
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
    watch_.reset();  // no notification may reach a dialog that is going
    if (m_hWnd != nullptr && !modal_)
        DestroyWindow(m_hWnd);
}

INT_PTR CVANTRODlg::DoModal() {
    modal_ = true;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ASSISTANT), nullptr,
                           &DlgProc, reinterpret_cast<LPARAM>(this));
}

HWND CVANTRODlg::Create() {
    modal_ = false;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ASSISTANT), nullptr,
                              &DlgProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CVANTRODlg::DlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CVANTRODlg*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CVANTRODlg*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

BOOL CVANTRODlg::OnInitDialog() {
    actions_.UpdateData(false);
    for (int i = 0; i < 6; ++i) {
        m_lblSteps[i].Attach(Item(IDC_STEP1 + i));
        m_lblSteps[i].MakeBold();
    }
    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        char text[64] = {};
        if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUT_ITEM, text, sizeof text) > 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_ABOUT, text);
        }
    }
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hAppIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));
    CentreOver(m_hWnd, nullptr);
    actions_.RefreshPortLists();
    const HWND hwnd = m_hWnd;
    watch_ = std::make_unique<platform::DeviceChangeWatch>(
        [hwnd] { PostMessageA(hwnd, kPortsChanged, 0, 0); });
    return TRUE;  // the focus goes to the first tab stop, "Quit"
}

INT_PTR CVANTRODlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED)
                OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            return OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
        case WM_DEVICECHANGE:
        case kPortsChanged:
            actions_.OnDeviceChange();
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);  // a dialog answers through it
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id >= IDC_STEP1 && id <= IDC_STEP6)
                return reinterpret_cast<INT_PTR>(
                    m_lblSteps[id - IDC_STEP1].CtlColor(reinterpret_cast<HDC>(wParam)));
            return FALSE;
        }
        case WM_SETCURSOR:
            if (waitCursor_ > 0) {
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
            if (busyDepth_ == 0)
                End(IDCANCEL);
            return TRUE;
        case WM_DESTROY:
            watch_.reset();
            for (auto& label : m_lblSteps)
                label.OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

void CVANTRODlg::OnCommand(int id) {
    if (busyDepth_ > 0)
        return;  // an action runs: nothing else starts
    switch (id) {
        case IDOK:
            actions_.UpdateData(true);
            End(IDOK);
            break;
        case IDCANCEL:
            End(IDCANCEL);
            break;
        case IDC_REFRESH:
            actions_.RefreshPortLists();
            break;
        case IDC_VERIFY:
            actions_.OnVerify();
            break;
        case IDC_BROWSE:
            actions_.OnBrowse();
            break;
        case IDC_UPGRADE:
            actions_.OnUpgrade();
            break;
        case IDC_RESET:
            actions_.OnReset();
            break;
        default:
            break;
    }
}

bool CVANTRODlg::OnSysCommand(UINT id) {
    if ((id & 0xFFF0) != IDM_ABOUT)
        return false;  // the default processing: move, close and the rest
    runAbout_();
    return true;
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

void CVANTRODlg::End(INT_PTR result) {
    if (modal_) {
        EndDialog(m_hWnd, result);
    } else {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

// ---- the controls, as the shared handlers use them ------------------------------------------

int CVANTRODlg::ListId(assistant::PortList list) const {
    return list == assistant::PortList::In ? IDC_IN_PORTS : IDC_OUT_PORTS;
}

void CVANTRODlg::ClearList(assistant::PortList list) {
    SendDlgItemMessageA(m_hWnd, ListId(list), CB_RESETCONTENT, 0, 0);
}

void CVANTRODlg::AddToList(assistant::PortList list, const std::string& name) {
    const HWND combo = Item(ListId(list));
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    // The dropped list as wide as its longest name, as the Qt window's is.
    const HDC dc = GetDC(combo);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(combo, WM_GETFONT, 0, 0));
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, name.c_str(), static_cast<int>(name.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(combo, dc);
    const LONG wanted =
        extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL);
    if (wanted > SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0))
        SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(wanted), 0);
}

int CVANTRODlg::ListCount(assistant::PortList list) {
    return static_cast<int>(SendDlgItemMessageA(m_hWnd, ListId(list), CB_GETCOUNT, 0, 0));
}

int CVANTRODlg::ListSelection(assistant::PortList list) {
    return static_cast<int>(SendDlgItemMessageA(m_hWnd, ListId(list), CB_GETCURSEL, 0, 0));
}

void CVANTRODlg::SetListSelection(assistant::PortList list, int index) {
    SendDlgItemMessageA(m_hWnd, ListId(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CVANTRODlg::ShowNoPortsHint(assistant::PortList, bool) {
    // A drop-down list of the classic controls has no cue banner: the list stays empty.
}

namespace {

std::string ItemText(HWND dialog, int id) {
    const int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetDlgItemTextA(dialog, id, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

std::string CVANTRODlg::StatusText() {
    return ItemText(m_hWnd, IDC_STATUS);
}

void CVANTRODlg::SetStatusText(const std::string& text) {
    SetDlgItemTextA(m_hWnd, IDC_STATUS, text.c_str());
}

std::string CVANTRODlg::PathText() {
    return ItemText(m_hWnd, IDC_FIRMWARE_PATH);
}

void CVANTRODlg::SetPathText(const std::string& text) {
    SetDlgItemTextA(m_hWnd, IDC_FIRMWARE_PATH, text.c_str());
}

void CVANTRODlg::SetProgressRange(int low, int high) {
    SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void CVANTRODlg::SetProgressPos(int position) {
    SendDlgItemMessageA(m_hWnd, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CVANTRODlg::SetUpgradeEnabled(bool enabled) {
    EnableWindow(Item(IDC_UPGRADE), enabled ? TRUE : FALSE);
}

void CVANTRODlg::FocusUpgrade() {
    // As the dialog manager moves focus: the default-button look follows.
    SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_UPGRADE)), TRUE);
}

bool CVANTRODlg::FileExists(const std::string& path) {
    return PathFileExistsA(path.c_str()) != FALSE;
}

std::optional<std::string> CVANTRODlg::ChooseHexFile() {
    return chooseFile_();
}

MessageAnswer CVANTRODlg::NormalCursorSeam::Show(const std::string& text, MessageButtons buttons) {
    // While the box waits for the user the window shows the arrow, not the busy cursor.
    const int wait = std::exchange(dialog_.waitCursor_, 0);
    if (wait > 0)
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    const MessageAnswer answer = dialog_.messages_->Show(text, buttons);
    dialog_.waitCursor_ = wait;
    if (wait > 0)
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    return answer;
}

void CVANTRODlg::EnterBusy(bool talksToUnit) {
    ++busyDepth_;
    if (talksToUnit && waitCursor_++ == 0)
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

void CVANTRODlg::LeaveBusy(bool talksToUnit) {
    if (talksToUnit && --waitCursor_ == 0)
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    --busyDepth_;
}

void CVANTRODlg::KeepPainting() {
    // The window paints and answers the system; input meant for it is dropped meanwhile, as
    // a modal action would ignore it. Message boxes have their own loop.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (IsInputFor(m_hWnd, msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace vantro::win32

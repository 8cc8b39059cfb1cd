#pragma once

#include "platform/Windows.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/StaticEx.h"
#include "assistant/Assistant.h"
#include "seam/MessageSeam.h"

namespace vantro::win32 {

// Message boxes as the framework raises them: captioned with the executable's base name, the
// exclamation icon on OK boxes and the question icon on Yes/No boxes.
class Win32MessageSeam : public MessageSeam {
  public:
    explicit Win32MessageSeam(HWND* owner) : owner_(owner) {}
    MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

  private:
    HWND* owner_;
};

// The executable's base name, without its folder and extension.
std::string ApplicationTitle();

// The assistant on the Windows API alone, from dialog template 102. Its behaviour is the
// shared one (assistant/); this class draws and routes.
class CVANTRODlg : private assistant::DialogWindow {
  public:
    using FileChooser = std::function<std::optional<std::string>()>;

    // messages: where every message box goes (null: real message boxes); notice: told once
    // the dialog has started.
    explicit CVANTRODlg(MessageSeam* messages = nullptr, std::string notice = {});
    ~CVANTRODlg() override;
    CVANTRODlg(const CVANTRODlg&) = delete;
    CVANTRODlg& operator=(const CVANTRODlg&) = delete;

    // Runs the dialog modally; returns IDOK or IDCANCEL.
    INT_PTR DoModal();
    // The same dialog without its own loop (tests drive it with messages); null on failure.
    HWND Create();

    // Seams for tests and slow links.
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetAboutRunner(std::function<void()> run) { runAbout_ = std::move(run); }
    void SetLinkTimings(const LinkTimings& timings) { assistant_.SetLinkTimings(timings); }
    void SetFindWait(std::chrono::milliseconds wait) { assistant_.SetFindWait(wait); }

    HWND Window() const { return m_hWnd; }
    assistant::Assistant& Assistant() { return assistant_; }

    HICON m_hAppIcon = nullptr;
    CStaticEx m_lblSteps[6];

  private:
    static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void RunQueued();
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    int ListId(assistant::PortList list) const;

    // assistant::DialogWindow
    void ShowPorts(assistant::PortList list, const std::vector<std::string>& names, int selected,
                   const std::string& hint) override;
    int SelectedPort(assistant::PortList list) override;
    void ShowStatus(const std::string& text) override;
    void ShowFirmwarePath(const std::string& path) override;
    void ShowProgress(int done, int total) override;
    void EnableUpgrade(bool enabled) override;
    void FocusUpgrade() override;
    std::optional<std::string> ChooseHexFile() override;
    MessageSeam& Messages() override { return *messages_; }
    void ShowWaitCursor(bool shown) override;
    void KeepPainting() override;
    void MakeStepCaptionsBold() override;
    void AddMenuSeparator() override;
    void AddMenuItem(unsigned id, const std::string& text) override;
    void ShowIcons() override;
    void ShowAbout() override;
    void End(int result) override;
    void RunOnUiThread(std::function<void()> f) override;

    HWND m_hWnd = nullptr;
    bool modal_ = false;
    bool waitCursor_ = false;
    std::unique_ptr<MessageSeam> ownSeam_;
    MessageSeam* messages_;
    FileChooser chooseFile_;
    std::function<void()> runAbout_;
    // What other threads handed to the dialog's thread, run when its message comes.
    std::mutex queueMutex_;
    std::deque<std::function<void()>> queue_;
    assistant::Assistant assistant_;  // last: it stops before the rest goes
};

}  // namespace vantro::win32

#pragma once

#include "platform/Windows.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/win32/StaticEx.h"
#include "assistant/Assistant.h"
#include "seam/MessageSeam.h"

namespace platform {
class DeviceChangeWatch;
}

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

// The assistant on the Windows API alone, from dialog template 102. Its handlers are the
// shared ones (assistant/); this class shows and routes.
class CVANTRODlg : private assistant::DialogControls {
  public:
    using FileChooser = std::function<std::optional<std::string>()>;

    // messages: where every message box goes (null: real message boxes).
    explicit CVANTRODlg(MessageSeam* messages = nullptr);
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
    void SetLinkTimings(const LinkTimings& timings) { actions_.SetLinkTimings(timings); }

    HWND Window() const { return m_hWnd; }
    assistant::AssistantActions& Actions() { return actions_; }
    bool Busy() const { return actions_.Busy(); }

    HICON m_hAppIcon = nullptr;
    CStaticEx m_lblSteps[6];

  private:
    static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnCommand(int id);
    bool OnSysCommand(UINT id);
    void OnPaint();
    void End(INT_PTR result);
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    int ListId(assistant::PortList list) const;

    // assistant::DialogControls
    void ClearList(assistant::PortList list) override;
    void AddToList(assistant::PortList list, const std::string& name) override;
    int ListCount(assistant::PortList list) override;
    int ListSelection(assistant::PortList list) override;
    void SetListSelection(assistant::PortList list, int index) override;
    void ShowNoPortsHint(assistant::PortList list, bool shown) override;
    std::string StatusText() override;
    void SetStatusText(const std::string& text) override;
    std::string PathText() override;
    void SetPathText(const std::string& text) override;
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int position) override;
    void SetUpgradeEnabled(bool enabled) override;
    void FocusUpgrade() override;
    bool FileExists(const std::string& path) override;
    std::optional<std::string> ChooseHexFile() override;
    MessageSeam& Messages() override { return normalCursor_; }
    void EnterBusy(bool talksToUnit) override;
    void LeaveBusy(bool talksToUnit) override;
    void KeepPainting() override;

    HWND m_hWnd = nullptr;
    bool modal_ = false;
    int busyDepth_ = 0;
    int waitCursor_ = 0;
    std::unique_ptr<MessageSeam> ownSeam_;
    MessageSeam* messages_;
    FileChooser chooseFile_;
    // Every box of the assistant goes through it: the arrow cursor while it waits.
    class NormalCursorSeam : public MessageSeam {
      public:
        explicit NormalCursorSeam(CVANTRODlg& dialog) : dialog_(dialog) {}
        MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

      private:
        CVANTRODlg& dialog_;
    } normalCursor_;
    std::function<void()> runAbout_;
    assistant::AssistantActions actions_;
    std::unique_ptr<platform::DeviceChangeWatch> watch_;
};

}  // namespace vantro::win32

#pragma once
// The assistant's dialog as a page. The assistant runs on this program's own thread (a worker);
// the page's main thread draws the controls and hears the clicks (page.js, Vantro.page). Each
// call below runs its JavaScript on the main thread and waits for it; a box, the file chooser
// and the about box wait on this thread for the page's answer, never on the main thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "assistant/Assistant.h"
#include "seam/MessageSeam.h"

namespace vantro::web {

// The page's modal boxes (OK, or Yes and No), with or without the dialog.
class PageBoxes : public MessageSeam {
  public:
    MessageAnswer Show(const std::string& text, MessageButtons buttons) override;
};

class PageDialog final : public assistant::DialogWindow {
  public:
    explicit PageDialog(std::string notice);
    ~PageDialog() override;
    PageDialog(const PageDialog&) = delete;
    PageDialog& operator=(const PageDialog&) = delete;

    // Lays the controls out, starts the assistant and runs what the page asks until the dialog
    // ends (Quit, or the page's close).
    void Run();

    // From the page's main thread (the exported functions of PageDialog.cpp).
    static void Command(int id);
    static void SysCommand(unsigned id);

    void ShowPorts(assistant::PortList list, const std::vector<std::string>& names, int selected,
                   const std::string& hint) override;
    int SelectedPort(assistant::PortList list) override;
    void ShowStatus(const std::string& text) override;
    void ShowFirmwarePath(const std::string& path) override;
    void ShowProgress(int done, int total) override;
    void EnableUpgrade(bool enabled) override;
    void FocusUpgrade() override;
    std::optional<std::string> ChooseHexFile() override;
    MessageSeam& Messages() override { return boxes_; }
    void ShowWaitCursor(bool shown) override;
    void KeepPainting() override;
    void MakeStepCaptionsBold() override;
    void AddMenuSeparator() override;
    void AddMenuItem(unsigned id, const std::string& text) override;
    void ShowIcons() override;
    void ShowAbout() override;
    void End(int result) override;
    void RunOnUiThread(std::function<void()> f) override;

  private:
    void Post(std::function<void()> f, bool fromPage);
    // Runs what was posted; the page's clicks only when takeClicks (not while an action runs).
    void RunPosted(bool takeClicks);

    PageBoxes boxes_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;   // RunOnUiThread
    std::deque<std::function<void()>> clicks_;  // the page's commands
    bool ended_ = false;
    assistant::Assistant assistant_;
};

}  // namespace vantro::web

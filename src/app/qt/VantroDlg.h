#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "assistant/Assistant.h"
#include "bootloader/Link.h"
#include "seam/MessageSeam.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace vantro::app {

class CStaticEx;

// The assistant: one fixed-size dialog that leads through the six steps of an upgrade. Its
// behaviour is the shared one (assistant/); this class draws it with Qt widgets and routes.
class CVANTRODlg : public QDialog, private assistant::DialogWindow {
    Q_OBJECT
  public:
    using FileChooser = std::function<std::optional<QString>(QWidget* parent)>;

    // messages: where every message box goes (null: real message boxes); notice: told once
    // the dialog has started.
    explicit CVANTRODlg(MessageSeam* messages = nullptr, QWidget* parent = nullptr,
                        std::string notice = {});
    ~CVANTRODlg() override;

    // Seams for tests and for slow links.
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetLinkTimings(const LinkTimings& timings) { assistant_.SetLinkTimings(timings); }
    void SetAboutRunner(std::function<void(QDialog&)> run) { runAbout_ = std::move(run); }
    void SetFindWait(std::chrono::milliseconds wait) { assistant_.SetFindWait(wait); }

    // A control by its template identifier (a static's by its template row, as -row).
    QWidget* Control(int id) const;
    // Every control with its template rectangle in dialog units.
    struct Placed {
        QWidget* widget;
        QRect templateRect;
        int row;
    };
    const std::vector<Placed>& Controls() const { return placed_; }
    QMenu* SystemMenu() const { return systemMenu_; }
    assistant::Assistant& Assistant() { return assistant_; }

    // Members the controls are known by.
    QIcon m_hAppIcon;
    QComboBox* m_cbInPorts = nullptr;
    QComboBox* m_cbOutPorts = nullptr;
    QProgressBar* m_ctlProgress = nullptr;
    CStaticEx* m_lblStep1 = nullptr;
    CStaticEx* m_lblStep2 = nullptr;
    CStaticEx* m_lblStep3 = nullptr;
    CStaticEx* m_lblStep4 = nullptr;
    CStaticEx* m_lblStep5 = nullptr;
    CStaticEx* m_lblStep6 = nullptr;

  public slots:
    void reject() override;  // Escape and the close box

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    // The members that name controls, and every button routed to the assistant.
    void WireControls();
    QComboBox* List(assistant::PortList list) const;
    QMenu* Menu();

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

    std::unique_ptr<MessageSeam> ownSeam_;
    MessageSeam* messages_;
    FileChooser chooseFile_;
    std::function<void(QDialog&)> runAbout_;
    std::vector<Placed> placed_;
    QLineEdit* status_ = nullptr;
    QLineEdit* firmwarePath_ = nullptr;
    QPushButton* upgrade_ = nullptr;
    QMenu* systemMenu_ = nullptr;
    assistant::Assistant assistant_;  // last: it stops before the controls go
};

}  // namespace vantro::app

#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
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

namespace platform {
class DeviceChangeWatch;
}

namespace vantro::app {

class CStaticEx;

// The assistant: one fixed-size dialog that leads through the six steps of an upgrade. Its
// handlers are the shared ones (assistant/); this class shows them with Qt widgets.
class CVANTRODlg : public QDialog, private assistant::DialogControls {
    Q_OBJECT
  public:
    using FileChooser = std::function<std::optional<QString>(QWidget* parent)>;

    // messages: where every message box goes (null: real message boxes).
    explicit CVANTRODlg(MessageSeam* messages = nullptr, QWidget* parent = nullptr);
    ~CVANTRODlg() override;

    // Seams for tests and for slow links.
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetLinkTimings(const LinkTimings& timings);
    void SetAboutRunner(std::function<void(QDialog&)> run) { runAbout_ = std::move(run); }

    // The handlers, as the buttons and the window system call them.
    void RefreshPortLists();
    void OnDeviceChange();
    void OnVerify();
    void OnBrowse();
    void OnReset();
    void OnUpgrade();
    void OnSysCommand(unsigned id);
    void UpdateData(bool saveAndValidate);

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
    bool Busy() const { return actions_.Busy(); }
    assistant::AssistantActions& Actions() { return actions_; }

    // Members the actions use.
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

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class NormalCursorSeam;

    void BuildControls();
    // The members that name controls, and the buttons' handlers.
    void WireControls();
    bool OnInitDialog();
    QComboBox* List(assistant::PortList list) const;

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
    MessageSeam& Messages() override { return *shownMessages_; }
    void EnterBusy(bool talksToUnit) override;
    void LeaveBusy(bool talksToUnit) override;
    void KeepPainting() override;

    std::unique_ptr<MessageSeam> ownSeam_;
    MessageSeam* messages_;
    std::unique_ptr<MessageSeam> shownMessages_;  // messages_, with the normal cursor
    FileChooser chooseFile_;
    std::function<void(QDialog&)> runAbout_;
    int busyDepth_ = 0;
    std::vector<Placed> placed_;
    QLineEdit* status_ = nullptr;
    QLineEdit* firmwarePath_ = nullptr;
    QPushButton* upgrade_ = nullptr;
    QMenu* systemMenu_ = nullptr;
    assistant::AssistantActions actions_;
    std::unique_ptr<platform::DeviceChangeWatch> watch_;  // last: stops before the rest goes
};

}  // namespace vantro::app

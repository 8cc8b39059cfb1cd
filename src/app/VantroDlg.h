#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

// The assistant: one fixed-size dialog that leads through the six steps of an upgrade.
class CVANTRODlg : public QDialog {
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
    bool Busy() const { return busy_; }

    // Members the actions use.
    QIcon m_hAppIcon;
    int m_nInPortSel = 0;
    int m_nOutPortSel = 0;
    QComboBox* m_cbInPorts = nullptr;
    QComboBox* m_cbOutPorts = nullptr;
    QString m_strStatus;
    QString m_strFirmwarePath;
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
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    class BusyScope;
    class NormalCursorSeam;
    class DialogUpgradeUi;

    void BuildControls();
    bool OnInitDialog();
    // Runs a handler: the window stays alive but takes no input meanwhile, and a port
    // failure is shown with its text instead of leaving the handler. A device change that
    // comes meanwhile refreshes the lists once the handler is done.
    void RunAction(const std::function<void()>& action, bool talksToUnit = false);
    // The same for an action that talks to the unit: the busy cursor shows while it runs.
    void RunUnitAction(const std::function<void()>& action) { RunAction(action, true); }
    MessageSeam& Messages();
    // Opens pair on the two selections; false after "Invalid device selected".
    bool OpenSelectedPorts(MidiPortPair& pair);

    std::unique_ptr<MessageSeam> ownSeam_;
    MessageSeam* messages_;
    std::unique_ptr<MessageSeam> shownMessages_;  // messages_, with the normal cursor
    FileChooser chooseFile_;
    std::function<void(QDialog&)> runAbout_;
    LinkTimings timings_;
    bool busy_ = false;
    bool refreshPending_ = false;
    std::vector<Placed> placed_;
    QLineEdit* status_ = nullptr;
    QLineEdit* firmwarePath_ = nullptr;
    QPushButton* upgrade_ = nullptr;
    QMenu* systemMenu_ = nullptr;
    std::unique_ptr<platform::DeviceChangeWatch> watch_;  // last: stops before the rest goes
};

}  // namespace vantro::app

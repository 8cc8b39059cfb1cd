#include "app/qt/VantroDlg.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <exception>
#include <span>

#include "app/qt/AboutDlg.h"
#include "app/qt/DialogTemplate.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/QtMessageSeam.h"
#include "app/qt/Resources.h"
#include "app/qt/StaticEx.h"
#include "platform/DeviceChange.h"

// The pictures live in a static library: their resource table must be registered by hand.
static void InitPictures() {
    Q_INIT_RESOURCE(resources);
}

namespace vantro::app {

namespace {

const QString kNoPortsHint = QStringLiteral("No MIDI ports found");

std::optional<QString> AskForHexFile(QWidget* parent) {
    const QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), "(*.hex)");
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

}  // namespace

// A message box raised while the busy cursor shows gets the normal one, for as long as it is
// up.
class CVANTRODlg::NormalCursorSeam : public MessageSeam {
  public:
    explicit NormalCursorSeam(MessageSeam*& inner) : inner_(inner) {}
    MessageAnswer Show(const std::string& text, MessageButtons buttons) override {
        const bool busy = QApplication::overrideCursor() != nullptr;
        if (busy)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        struct Restore {
            bool busy;
            ~Restore() {
                if (busy)
                    QApplication::restoreOverrideCursor();
            }
        } restore{busy};
        return inner_->Show(text, buttons);
    }

  private:
    MessageSeam*& inner_;
};

CVANTRODlg::CVANTRODlg(MessageSeam* messages, QWidget* parent)
    : QDialog(parent),
      messages_(messages),
      shownMessages_(std::make_unique<NormalCursorSeam>(messages_)),
      chooseFile_(&AskForHexFile),
      actions_(*this) {
    if (messages_ == nullptr) {
        ownSeam_ = std::make_unique<QtMessageSeam>(this);
        messages_ = ownSeam_.get();
    }
    InitPictures();
    runAbout_ = [](QDialog& about) { about.exec(); };
    m_hAppIcon = QIcon(":/vantro/icon.png");
    BuildControls();
    OnInitDialog();
}

CVANTRODlg::~CVANTRODlg() {
    watch_.reset();  // no notification may reach a dialog that is going
}

void CVANTRODlg::SetLinkTimings(const LinkTimings& timings) {
    actions_.SetLinkTimings(timings);
}

void CVANTRODlg::WireControls() {
    m_cbInPorts = qobject_cast<QComboBox*>(Control(IDC_IN_PORTS));
    m_cbOutPorts = qobject_cast<QComboBox*>(Control(IDC_OUT_PORTS));
    // The closed list may cut a long name: its tooltip is the selected port's whole name.
    for (QComboBox* list : {m_cbInPorts, m_cbOutPorts}) {
        connect(list, &QComboBox::currentIndexChanged, list,
                [list] { list->setToolTip(list->currentText()); });
    }
    m_ctlProgress = qobject_cast<QProgressBar*>(Control(IDC_PROGRESS));
    status_ = qobject_cast<QLineEdit*>(Control(IDC_STATUS));
    firmwarePath_ = qobject_cast<QLineEdit*>(Control(IDC_FIRMWARE_PATH));
    upgrade_ = qobject_cast<QPushButton*>(Control(IDC_UPGRADE));

    auto button = [this](int id) { return qobject_cast<QPushButton*>(Control(id)); };
    connect(button(IDOK), &QPushButton::clicked, this, &QDialog::accept);
    connect(button(IDC_REFRESH), &QPushButton::clicked, this, &CVANTRODlg::RefreshPortLists);
    connect(button(IDC_VERIFY), &QPushButton::clicked, this, &CVANTRODlg::OnVerify);
    connect(button(IDC_BROWSE), &QPushButton::clicked, this, &CVANTRODlg::OnBrowse);
    connect(button(IDC_UPGRADE), &QPushButton::clicked, this, &CVANTRODlg::OnUpgrade);
    connect(button(IDC_RESET), &QPushButton::clicked, this, &CVANTRODlg::OnReset);
}

void CVANTRODlg::BuildControls() {
    const DialogUnits du(PrepareDialog(*this, "IDD_ASSISTANT", ASSISTANT_CAPTION));

    QWidget* previousTab = nullptr;
    CStaticEx** steps[] = {&m_lblStep1, &m_lblStep2, &m_lblStep3,
                           &m_lblStep4, &m_lblStep5, &m_lblStep6};
    int row = 0;
    for (const ControlSpec& c : std::span(kTemplate, kTemplateSize)) {
        ++row;
        QRect r = du.Rect(c.x, c.y, c.w, c.h);
        QWidget* w = MakeControl(c, du, r, this);
        if (c.kind == Kind::Step) {
            *steps[c.id - IDC_STEP1] = static_cast<CStaticEx*>(w);
        }
        w->setGeometry(r);
        w->setObjectName(c.id == IDC_STATIC ? QString("static%1").arg(row)
                                            : QString("control%1").arg(c.id));
        w->setProperty("controlId", c.id);
        w->setVisible(c.visible);
        placed_.push_back({w, QRect(c.x, c.y, c.w, c.h), row});
        if (w->focusPolicy() != Qt::NoFocus) {
            if (previousTab != nullptr)
                setTabOrder(previousTab, w);
            previousTab = w;
        }
    }

    WireControls();
    setFixedSize(du.X(kDialogWidth), du.Y(kDialogHeight));
}

QWidget* CVANTRODlg::Control(int id) const {
    for (const auto& p : placed_) {
        if (id >= 0 ? p.widget->property("controlId").toInt() == id : p.row == -id) {
            return p.widget;
        }
    }
    return nullptr;
}

bool CVANTRODlg::OnInitDialog() {
    actions_.UpdateData(false);
    for (CStaticEx* step :
         {m_lblStep1, m_lblStep2, m_lblStep3, m_lblStep4, m_lblStep5, m_lblStep6}) {
        step->MakeBold();
    }
    // The window systems Qt serves give dialogs no system menu: the about item lives in the
    // dialog's context menu, after a separator as it would be there.
    systemMenu_ = new QMenu(this);
    const QString aboutText = kAboutItemText;
    if (!aboutText.isEmpty()) {
        systemMenu_->addSeparator();
        QAction* about = systemMenu_->addAction(aboutText);
        about->setData(IDM_ABOUT);
        connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUT); });
    }
    setWindowIcon(m_hAppIcon);
    actions_.RefreshPortLists();
    watch_ = std::make_unique<platform::DeviceChangeWatch>([this] {
        QMetaObject::invokeMethod(
            this, [this] { OnDeviceChange(); }, Qt::QueuedConnection);
    });
    return true;
}

void CVANTRODlg::contextMenuEvent(QContextMenuEvent* event) {
    systemMenu_->exec(event->globalPos());
}

void CVANTRODlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == IDM_ABOUT) {
        CAboutDlg about(this);
        runAbout_(about);
    }
}

void CVANTRODlg::UpdateData(bool saveAndValidate) {
    actions_.UpdateData(saveAndValidate);
}

void CVANTRODlg::RefreshPortLists() {
    actions_.RefreshPortLists();
}

void CVANTRODlg::OnDeviceChange() {
    actions_.OnDeviceChange();
}

void CVANTRODlg::OnVerify() {
    actions_.OnVerify();
}

void CVANTRODlg::OnBrowse() {
    actions_.OnBrowse();
}

void CVANTRODlg::OnReset() {
    actions_.OnReset();
}

void CVANTRODlg::OnUpgrade() {
    actions_.OnUpgrade();
}

// ---- the controls, as the shared handlers use them ------------------------------------------

QComboBox* CVANTRODlg::List(assistant::PortList list) const {
    return list == assistant::PortList::In ? m_cbInPorts : m_cbOutPorts;
}

void CVANTRODlg::ClearList(assistant::PortList list) {
    List(list)->view()->setMinimumWidth(0);
    List(list)->clear();
}

void CVANTRODlg::AddToList(assistant::PortList which, const std::string& text) {
    QComboBox* list = List(which);
    const int selected = list->currentIndex();
    const QString name = QString::fromLocal8Bit(text.c_str());
    list->addItem(name);
    list->setItemData(list->count() - 1, name, Qt::ToolTipRole);
    list->setCurrentIndex(selected);  // the toolkit selects the first entry added
    // The dropped list is as wide as its longest name needs.
    const QFontMetrics metrics(list->view()->font());
    list->view()->setMinimumWidth(
        std::max(list->view()->minimumWidth(),
                 metrics.horizontalAdvance(name) + 4 * metrics.averageCharWidth()));
}

int CVANTRODlg::ListCount(assistant::PortList list) {
    return List(list)->count();
}

int CVANTRODlg::ListSelection(assistant::PortList list) {
    return List(list)->currentIndex();
}

void CVANTRODlg::SetListSelection(assistant::PortList list, int index) {
    List(list)->setCurrentIndex(index);
}

void CVANTRODlg::ShowNoPortsHint(assistant::PortList list, bool shown) {
    List(list)->setPlaceholderText(shown ? kNoPortsHint : QString());
}

std::string CVANTRODlg::StatusText() {
    return status_->text().toLocal8Bit().toStdString();
}

void CVANTRODlg::SetStatusText(const std::string& text) {
    status_->setText(QString::fromLocal8Bit(text.c_str()));
}

std::string CVANTRODlg::PathText() {
    return firmwarePath_->text().toLocal8Bit().toStdString();
}

void CVANTRODlg::SetPathText(const std::string& text) {
    firmwarePath_->setText(QString::fromLocal8Bit(text.c_str()));
}

void CVANTRODlg::SetProgressRange(int low, int high) {
    // Qt shows an empty range (an empty plan) as a busy animation; the dialog shows an empty bar.
    m_ctlProgress->setRange(low, std::max(high, low + 1));
}

void CVANTRODlg::SetProgressPos(int position) {
    m_ctlProgress->setValue(position);
}

void CVANTRODlg::SetUpgradeEnabled(bool enabled) {
    upgrade_->setEnabled(enabled);
}

void CVANTRODlg::FocusUpgrade() {
    upgrade_->setFocus(Qt::OtherFocusReason);
}

bool CVANTRODlg::FileExists(const std::string& path) {
    return QFileInfo::exists(QString::fromLocal8Bit(path.c_str()));
}

std::optional<std::string> CVANTRODlg::ChooseHexFile() {
    if (const auto chosen = chooseFile_(this))
        return chosen->toLocal8Bit().toStdString();
    return std::nullopt;
}

void CVANTRODlg::EnterBusy(bool talksToUnit) {
    if (busyDepth_++ == 0)
        qApp->installEventFilter(this);
    if (talksToUnit)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CVANTRODlg::LeaveBusy(bool talksToUnit) {
    if (talksToUnit)
        QApplication::restoreOverrideCursor();
    if (--busyDepth_ == 0)
        qApp->removeEventFilter(this);
}

void CVANTRODlg::KeepPainting() {
    // Input meant for the window is dropped by the event filter meanwhile.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool CVANTRODlg::eventFilter(QObject* watched, QEvent* event) {
    if (busyDepth_ == 0)
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride: {
            // Only what is meant for this window: message boxes of the action stay usable.
            auto* w = qobject_cast<QWidget*>(watched);
            return w != nullptr && (w == this || isAncestorOf(w));
        }
        default:
            return false;
    }
}

void CVANTRODlg::closeEvent(QCloseEvent* event) {
    if (busyDepth_ > 0) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CVANTRODlg::keyPressEvent(QKeyEvent* event) {
    if (busyDepth_ > 0)
        return;
    QDialog::keyPressEvent(event);
}

}  // namespace vantro::app

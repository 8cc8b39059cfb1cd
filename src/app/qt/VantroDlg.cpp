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

#include "app/qt/AboutDlg.h"
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

enum class Kind {
    Button,
    DefaultButton,
    Combo,
    Text,
    Edit,
    EtchedLine,
    BlackRule,
    Progress,
    Bitmap,
    Step
};

struct ControlSpec {
    int id;
    Kind kind;
    const char* text;
    int x, y, w, h;
    bool visible;
};

// Template 102, in template order (which is the tab order).
const ControlSpec kTemplate[] = {
    {IDOK, Kind::DefaultButton, "Quit", 601, 255, 50, 14, true},
    {IDC_IN_PORTS, Kind::Combo, nullptr, 334, 50, 75, 120, true},
    {IDC_STATIC, Kind::Text,
     "To upgrade your VANTRO unit you need a USB to 5-pin MIDI converter (ex: Roland UM-ONE "
     "Mk2) and connect it to the VANTRO 5-pin MIDI connectors.",
     370, 5, 279, 20, true},
    {IDC_STATIC, Kind::Text, "Select the correct MIDI device connection here .", 370, 30, 156, 8,
     true},
    {IDC_STATIC, Kind::Text, "IN", 334, 40, 8, 8, true},
    {IDC_OUT_PORTS, Kind::Combo, nullptr, 424, 50, 73, 115, true},
    {IDC_STATIC, Kind::Text, "OUT", 424, 40, 15, 8, true},
    {IDC_REFRESH, Kind::Button, "<< Refresh", 514, 50, 45, 14, false},
    {IDC_VERIFY, Kind::Button, "<< Verify", 444, 121, 45, 14, true},
    {IDC_STATUS, Kind::Edit, nullptr, 334, 121, 100, 14, true},
    {IDC_STATIC, Kind::EtchedLine, nullptr, 330, 250, 322, 1, true},
    {IDC_FIRMWARE_PATH, Kind::Edit, nullptr, 335, 165, 260, 14, true},
    {IDC_BROWSE, Kind::Button, "<< Browse...", 600, 165, 55, 14, true},
    {IDC_UPGRADE, Kind::Button, "Upgrade VANTRO", 335, 205, 260, 20, true},
    {IDC_STATIC, Kind::Text, "Status:", 334, 111, 24, 8, true},
    {IDC_STATIC, Kind::Text, "Select the firmware file you wish to download.", 370, 150, 148, 8,
     true},
    {IDC_STATIC, Kind::Text, "Verify connection. Status should say OK and version number.", 370,
     100, 197, 8, true},
    {IDC_STATIC, Kind::Text,
     "Remove power from VANTRO, and then connect power again and immediately turn the Merge "
     "switch up and down quickly a few times until all LED's flashing.",
     370, 75, 274, 17, true},
    {IDC_STATIC, Kind::BlackRule, nullptr, 332, 25, 330, 1, true},
    {IDC_STATIC, Kind::BlackRule, nullptr, 330, 140, 330, 1, true},
    {IDC_STATIC, Kind::BlackRule, nullptr, 330, 70, 330, 1, true},
    {IDC_STATIC, Kind::BlackRule, nullptr, 330, 95, 330, 1, true},
    {IDC_STATIC, Kind::Text,
     "Press the upgrade button, and wait until completed. In case of error, goto step 3", 370, 190,
     261, 8, true},
    {IDC_STATIC, Kind::BlackRule, nullptr, 330, 185, 330, 1, true},
    {IDC_STATIC, Kind::Text, "Progress:", 335, 230, 32, 8, true},
    {IDC_PROGRESS, Kind::Progress, nullptr, 385, 230, 209, 10, true},
    {IDC_STATIC, Kind::Bitmap, nullptr, 5, 5, 318, 251, true},
    {IDC_RESET, Kind::Button, "Reset", 481, 255, 50, 14, false},
    {IDC_STEP1, Kind::Step, "Step 1.", 335, 5, 30, 8, true},
    {IDC_STEP1 + 1, Kind::Step, "Step 2.", 335, 30, 30, 8, true},
    {IDC_STEP1 + 2, Kind::Step, "Step 3.", 335, 75, 30, 8, true},
    {IDC_STEP1 + 3, Kind::Step, "Step 4.", 335, 100, 30, 8, true},
    {IDC_STEP1 + 4, Kind::Step, "Step 5.", 335, 150, 30, 8, true},
    {IDC_STEP1 + 5, Kind::Step, "Step 6.", 335, 190, 30, 8, true},
};

constexpr int kDialogWidth = 665;
constexpr int kDialogHeight = 274;

const QString kNoPortsHint = QStringLiteral("No MIDI ports found");

// A black rule one device pixel thick at its top, at any scale factor.
class BlackRule : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRectF(0, 0, width(), 1.0 / devicePixelRatioF()), Qt::black);
    }
};

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

void CVANTRODlg::BuildControls() {
    const DialogUnits du(PrepareDialog(*this, "IDD_ASSISTANT", "VANTRO Assistant V1.1"));

    QWidget* previousTab = nullptr;
    CStaticEx** steps[] = {&m_lblStep1, &m_lblStep2, &m_lblStep3,
                           &m_lblStep4, &m_lblStep5, &m_lblStep6};
    int row = 0;
    for (const auto& c : kTemplate) {
        ++row;
        QRect r = du.Rect(c.x, c.y, c.w, c.h);
        QWidget* w = nullptr;
        switch (c.kind) {
            case Kind::Button:
            case Kind::DefaultButton: {
                auto* b = new QPushButton(c.text, this);
                b->setDefault(c.kind == Kind::DefaultButton);
                // A push button with the focus takes Enter, as the focused button of a dialog
                // does; Enter elsewhere goes to "Quit".
                b->setAutoDefault(true);
                w = b;
                break;
            }
            case Kind::Combo: {
                auto* combo = new QComboBox(this);
                combo->setEditable(false);
                combo->setInsertPolicy(QComboBox::InsertAtBottom);
                // The template's height is the dropped-down list's; the closed box is one
                // line high, as an edit.
                r.setHeight(du.Y(14));
                w = combo;
                break;
            }
            case Kind::Text: {
                auto* label = new QLabel(c.text, this);
                label->setWordWrap(c.h > 8);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setTextFormat(Qt::PlainText);
                w = label;
                break;
            }
            case Kind::Edit: {
                auto* edit = new QLineEdit(this);
                edit->setReadOnly(true);
                w = edit;
                break;
            }
            case Kind::EtchedLine: {
                auto* line = new QFrame(this);
                line->setFrameShape(QFrame::HLine);
                line->setFrameShadow(QFrame::Sunken);
                r.setHeight(std::max(2, r.height()));
                w = line;
                break;
            }
            case Kind::BlackRule: {
                // One device pixel, whatever the scale: rounding dialog units may not decide.
                r.setHeight(1);
                w = new BlackRule(this);
                break;
            }
            case Kind::Progress: {
                auto* bar = new QProgressBar(this);
                bar->setRange(0, 100);
                bar->setValue(0);
                bar->setTextVisible(false);
                w = bar;
                break;
            }
            case Kind::Bitmap: {
                // The picture fills the template's rectangle, scaled to fit and centred, with
                // the sunken edge around the whole rectangle.
                auto* picture = new QLabel(this);
                picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                picture->setLineWidth(1);
                picture->setAlignment(Qt::AlignCenter);
                const QSize inside = r.size() - QSize(2, 2);
                const qreal dpr = devicePixelRatioF();
                QPixmap pixmap =
                    QPixmap(":/vantro/connections.png")
                        .scaled(inside * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                pixmap.setDevicePixelRatio(dpr);
                picture->setPixmap(pixmap);
                w = picture;
                break;
            }
            case Kind::Step: {
                auto* label = new CStaticEx(c.text, this);
                *steps[c.id - IDC_STEP1] = label;
                w = label;
                break;
            }
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

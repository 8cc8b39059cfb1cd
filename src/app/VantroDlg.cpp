#include "app/VantroDlg.h"

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

#include "app/AboutDlg.h"
#include "app/DialogUnits.h"
#include "app/QtMessageSeam.h"
#include "app/Resources.h"
#include "app/StaticEx.h"
#include "bootloader/Commands.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "platform/DeviceChange.h"
#include "platform/WindowMessages.h"
#include "upgrade/UpgradeRun.h"

using namespace mm;  // the winmm-shaped MIDI seam

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

// While an action runs, the window repaints and answers the window system, but clicks and
// keys meant for it are dropped, as a modal action would ignore them. An action that talks
// to the unit shows the busy cursor for its whole length.
class CVANTRODlg::BusyScope {
  public:
    BusyScope(CVANTRODlg& dlg, bool waitCursor)
        : dlg_(dlg), was_(dlg.busy_), waitCursor_(waitCursor) {
        dlg_.busy_ = true;
        if (!was_)
            qApp->installEventFilter(&dlg_);
        if (waitCursor_)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyScope() {
        if (waitCursor_)
            QApplication::restoreOverrideCursor();
        dlg_.busy_ = was_;
        if (!was_)
            qApp->removeEventFilter(&dlg_);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    CVANTRODlg& dlg_;
    bool was_;
    bool waitCursor_;
};

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

// What the upgrade run needs of the dialog, given by its controls.
class CVANTRODlg::DialogUpgradeUi : public UpgradeUi {
  public:
    explicit DialogUpgradeUi(CVANTRODlg& dlg) : dlg_(dlg) {}
    std::string FirmwarePath() override {
        return dlg_.m_strFirmwarePath.toLocal8Bit().toStdString();
    }
    bool FileExists(const std::string& path) override {
        return QFileInfo::exists(QString::fromLocal8Bit(path.c_str()));
    }
    void SetUpgradeEnabled(bool enabled) override { dlg_.upgrade_->setEnabled(enabled); }
    void UpdateData(bool save) override { dlg_.UpdateData(save); }
    int InSelection() override { return dlg_.m_cbInPorts->currentIndex(); }
    int OutSelection() override { return dlg_.m_cbOutPorts->currentIndex(); }
    void SetProgressRange(int low, int high) override { dlg_.m_ctlProgress->setRange(low, high); }
    void SetProgressPos(int position) override { dlg_.m_ctlProgress->setValue(position); }
    MessageSeam& Messages() override { return dlg_.Messages(); }

  private:
    CVANTRODlg& dlg_;
};

CVANTRODlg::CVANTRODlg(MessageSeam* messages, QWidget* parent)
    : QDialog(parent),
      messages_(messages),
      shownMessages_(std::make_unique<NormalCursorSeam>(messages_)),
      chooseFile_(&AskForHexFile) {
    if (messages_ == nullptr) {
        ownSeam_ = std::make_unique<QtMessageSeam>(this);
        messages_ = ownSeam_.get();
    }
    InitPictures();
    runAbout_ = [](QDialog& about) { about.exec(); };
    SetLinkTimings(LinkTimings{});
    m_hAppIcon = QIcon(":/vantro/icon.png");
    BuildControls();
    OnInitDialog();
}

CVANTRODlg::~CVANTRODlg() {
    watch_.reset();  // no notification may reach a dialog that is going
}

void CVANTRODlg::SetLinkTimings(const LinkTimings& timings) {
    timings_ = timings;
    // Keep painting while the unit is awaited; input stays blocked by the busy filter.
    timings_.idle = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); };
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
    connect(button(IDC_REFRESH), &QPushButton::clicked, this,
            [this] { RunAction([this] { RefreshPortLists(); }); });
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

MessageSeam& CVANTRODlg::Messages() {
    return *shownMessages_;
}

void CVANTRODlg::RunAction(const std::function<void()>& action, bool talksToUnit) {
    {
        BusyScope busy(*this, talksToUnit);
        try {
            action();
        } catch (const std::exception& e) {
            // The action's own objects (its port pair above all) are gone by now.
            Messages().Show(e.what(), MessageButtons::Ok);
        }
    }
    // A device change that came while the action ran is applied now, once, after the
    // action's own data exchange.
    if (!busy_ && refreshPending_) {
        refreshPending_ = false;
        RunAction([this] { RefreshPortLists(); });
    }
}

bool CVANTRODlg::OnInitDialog() {
    UpdateData(false);
    for (CStaticEx* step :
         {m_lblStep1, m_lblStep2, m_lblStep3, m_lblStep4, m_lblStep5, m_lblStep6}) {
        step->MakeBold();
    }
    // The about item goes into the system menu; where the window system gives dialogs
    // none, it lives in the dialog's context menu, after a separator as it would be there.
    systemMenu_ = new QMenu(this);
    const QString aboutText = kAboutItemText;
    const bool inSystemMenu =
        platform::AppendSystemMenuItem(reinterpret_cast<void*>(winId()), IDM_ABOUT, kAboutItemText);
    if (!aboutText.isEmpty() && !inSystemMenu) {
        systemMenu_->addSeparator();
        QAction* about = systemMenu_->addAction(aboutText);
        about->setData(IDM_ABOUT);
        connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUT); });
    }
    setWindowIcon(m_hAppIcon);
    RunAction([this] { RefreshPortLists(); });
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
    if (saveAndValidate) {
        m_nInPortSel = m_cbInPorts->currentIndex();
        m_nOutPortSel = m_cbOutPorts->currentIndex();
        m_strStatus = status_->text();
        m_strFirmwarePath = firmwarePath_->text();
    } else {
        m_cbInPorts->setCurrentIndex(m_nInPortSel < m_cbInPorts->count() ? m_nInPortSel : -1);
        m_cbOutPorts->setCurrentIndex(m_nOutPortSel < m_cbOutPorts->count() ? m_nOutPortSel : -1);
        status_->setText(m_strStatus);
        firmwarePath_->setText(m_strFirmwarePath);
    }
}

namespace {

// Appends every port's product name in device order and selects the last one. An empty list
// says why in a greyed hint that is no entry.
template <typename Caps, typename Port>
void FillList(QComboBox* list, const Port& port) {
    const UINT count = port.PortCount();
    list->setPlaceholderText(count == 0 ? kNoPortsHint : QString());
    int widest = 0;
    const QFontMetrics metrics(list->view()->font());
    for (UINT i = 0; i < count; ++i) {
        Caps caps{};
        port.GetPortCaps(i, caps);
        const QString name = QString::fromLocal8Bit(caps.szPname);
        list->addItem(name);
        list->setItemData(list->count() - 1, name, Qt::ToolTipRole);
        // The toolkit selects the first entry added; a refresh that fails partway must leave
        // nothing selected.
        list->setCurrentIndex(-1);
        // The dropped list is as wide as its longest name needs.
        widest = std::max(widest, metrics.horizontalAdvance(name));
        list->view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth());
    }
    if (count != 0)
        list->setCurrentIndex(static_cast<int>(count) - 1);
}

}  // namespace

void CVANTRODlg::RefreshPortLists() {
    m_cbInPorts->view()->setMinimumWidth(0);
    m_cbOutPorts->view()->setMinimumWidth(0);
    m_cbInPorts->clear();
    midi::CMIDIInDevice in;
    FillList<MIDIINCAPSA>(m_cbInPorts, in);

    m_cbOutPorts->clear();
    midi::CMIDIOutDevice out;
    FillList<MIDIOUTCAPSA>(m_cbOutPorts, out);
}

void CVANTRODlg::OnDeviceChange() {
    if (busy_) {
        refreshPending_ = true;  // never inside a running action
        return;
    }
    RunAction([this] { RefreshPortLists(); });
}

bool CVANTRODlg::OpenSelectedPorts(MidiPortPair& pair) {
    const int in = m_cbInPorts->currentIndex();
    const int out = m_cbOutPorts->currentIndex();
    if (in == -1 || out == -1) {
        Messages().Show("Invalid device selected", MessageButtons::Ok);
        return false;
    }
    pair.OpenPorts(static_cast<UINT>(in), static_cast<UINT>(out));
    return true;
}

void CVANTRODlg::OnVerify() {
    RunUnitAction([this] {
        UpdateData(true);
        MidiPortPair pair(&Messages(), timings_);
        if (!OpenSelectedPorts(pair)) {
            return;
        }
        uint8_t blMajor = 0, blMinor = 0, fwMajor = 0, fwMinor = 0;
        if (QueryVersions(pair, blMajor, blMinor, fwMajor, fwMinor)) {
            m_strStatus = QString::fromStdString(VersionStatus(blMajor, blMinor, fwMajor, fwMinor));
        } else {
            m_strStatus = "ERROR!";
        }
        UpdateData(false);
    });
}

void CVANTRODlg::OnBrowse() {
    RunAction([this] {
        UpdateData(true);
        if (!m_strStatus.contains("OK")) {
            Messages().Show("Please verify the connection!", MessageButtons::Ok);
            return;
        }
        if (const auto chosen = chooseFile_(this)) {
            UpdateData(true);
            m_strFirmwarePath = *chosen;
            UpdateData(false);
        }
    });
}

void CVANTRODlg::OnReset() {
    RunUnitAction([this] {
        MidiPortPair pair(&Messages(), timings_);
        if (!OpenSelectedPorts(pair)) {
            return;
        }
        SendRestart(pair);
    });
}

void CVANTRODlg::OnUpgrade() {
    RunUnitAction([this] {
        DialogUpgradeUi ui(*this);
        UpgradeOptions options;
        options.timings = timings_;
        RunUpgrade(ui, options);
    });
}

bool CVANTRODlg::eventFilter(QObject* watched, QEvent* event) {
    if (!busy_)
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
    if (busy_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool CVANTRODlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    unsigned id = 0;
    if (platform::IsDeviceChangeMessage(message)) {
        OnDeviceChange();  // and the default processing goes on
    } else if (platform::IsSysCommandMessage(message, id) && (id & 0xFFF0) == IDM_ABOUT) {
        OnSysCommand(id);
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

void CVANTRODlg::keyPressEvent(QKeyEvent* event) {
    if (busy_)
        return;
    QDialog::keyPressEvent(event);
}

}  // namespace vantro::app

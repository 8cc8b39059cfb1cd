#include "app/qt/VantroDlg.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFrame>
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

// The pictures live in a static library: their resource table must be registered by hand.
static void InitPictures() {
    Q_INIT_RESOURCE(resources);
}

namespace vantro::app {

namespace {

std::optional<QString> AskForHexFile(QWidget* parent) {
    const QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), "(*.hex)");
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

QString FromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

}  // namespace

CVANTRODlg::CVANTRODlg(MessageSeam* messages, QWidget* parent, std::string notice)
    : QDialog(parent),
      messages_(messages),
      chooseFile_(&AskForHexFile),
      assistant_(*this, std::move(notice)) {
    if (messages_ == nullptr) {
        ownSeam_ = std::make_unique<QtMessageSeam>(this);
        messages_ = ownSeam_.get();
    }
    InitPictures();
    runAbout_ = [](QDialog& about) { about.exec(); };
    m_hAppIcon = QIcon(":/vantro/icon.png");
    BuildControls();
    assistant_.Start();
}

CVANTRODlg::~CVANTRODlg() {
    assistant_.Stop();  // no notification may reach a dialog that is going
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

    for (const Placed& p : placed_) {
        if (auto* button = qobject_cast<QPushButton*>(p.widget)) {
            const int id = p.widget->property("controlId").toInt();
            connect(button, &QPushButton::clicked, this, [this, id] { assistant_.OnCommand(id); });
        }
    }
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

void CVANTRODlg::MakeStepCaptionsBold() {
    for (CStaticEx* step :
         {m_lblStep1, m_lblStep2, m_lblStep3, m_lblStep4, m_lblStep5, m_lblStep6}) {
        step->MakeBold();
    }
}

// The window systems Qt serves give dialogs no system menu: its items live in the dialog's
// context menu.
QMenu* CVANTRODlg::Menu() {
    if (systemMenu_ == nullptr)
        systemMenu_ = new QMenu(this);
    return systemMenu_;
}

void CVANTRODlg::AddMenuSeparator() {
    Menu()->addSeparator();
}

void CVANTRODlg::AddMenuItem(unsigned id, const std::string& text) {
    QAction* item = Menu()->addAction(FromLocal(text));
    item->setData(id);
    connect(item, &QAction::triggered, this, [this, id] { assistant_.OnSysCommand(id); });
}

void CVANTRODlg::ShowIcons() {
    setWindowIcon(m_hAppIcon);
}

void CVANTRODlg::ShowAbout() {
    CAboutDlg about(this);
    runAbout_(about);
}

void CVANTRODlg::End(int result) {
    done(result == IDOK ? QDialog::Accepted : QDialog::Rejected);
}

void CVANTRODlg::reject() {
    assistant_.OnCommand(IDCANCEL);  // refused while an action runs
}

void CVANTRODlg::RunOnUiThread(std::function<void()> f) {
    // Queued on the dialog: dropped with it if it goes first.
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void CVANTRODlg::contextMenuEvent(QContextMenuEvent* event) {
    if (systemMenu_ != nullptr)
        systemMenu_->exec(event->globalPos());
}

// ---- the controls, as the assistant uses them ---------------------------------------------

QComboBox* CVANTRODlg::List(assistant::PortList list) const {
    return list == assistant::PortList::In ? m_cbInPorts : m_cbOutPorts;
}

void CVANTRODlg::ShowPorts(assistant::PortList which, const std::vector<std::string>& names,
                           int selected, const std::string& hint) {
    QComboBox* list = List(which);
    list->clear();
    // The dropped list is as wide as its longest name needs.
    const QFontMetrics metrics(list->view()->font());
    int width = 0;
    for (const std::string& text : names) {
        const QString name = FromLocal(text);
        list->addItem(name);
        list->setItemData(list->count() - 1, name, Qt::ToolTipRole);
        width = std::max(width, metrics.horizontalAdvance(name) + 4 * metrics.averageCharWidth());
    }
    list->view()->setMinimumWidth(width);
    list->setCurrentIndex(selected);
    list->setPlaceholderText(FromLocal(hint));
}

int CVANTRODlg::SelectedPort(assistant::PortList list) {
    return List(list)->currentIndex();
}

void CVANTRODlg::ShowStatus(const std::string& text) {
    status_->setText(FromLocal(text));
}

void CVANTRODlg::ShowFirmwarePath(const std::string& path) {
    firmwarePath_->setText(FromLocal(path));
}

void CVANTRODlg::ShowProgress(int done, int total) {
    // Qt shows an empty range (an empty plan) as a busy animation; the dialog shows an empty bar.
    m_ctlProgress->setRange(0, std::max(total, 1));
    m_ctlProgress->setValue(done);
}

void CVANTRODlg::EnableUpgrade(bool enabled) {
    upgrade_->setEnabled(enabled);
}

void CVANTRODlg::FocusUpgrade() {
    upgrade_->setFocus(Qt::OtherFocusReason);
}

std::optional<std::string> CVANTRODlg::ChooseHexFile() {
    if (const auto chosen = chooseFile_(this))
        return chosen->toLocal8Bit().toStdString();
    return std::nullopt;
}

void CVANTRODlg::ShowWaitCursor(bool shown) {
    if (shown)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CVANTRODlg::KeepPainting() {
    // Input meant for the window is dropped meanwhile, as a modal action ignores it.
    qApp->installEventFilter(this);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    qApp->removeEventFilter(this);
}

bool CVANTRODlg::eventFilter(QObject* watched, QEvent* event) {
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

}  // namespace vantro::app

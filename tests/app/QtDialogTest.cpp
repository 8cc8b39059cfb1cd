// The Qt window of the assistant, offscreen, driven by clicks and keys: its layout from the
// template, its rendering, and that its controls and events reach the assistant. Message boxes,
// the file dialog and the about box answered through seams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <set>

#include "../midi/MidiTestSupport.h"
#include "CableRuns.h"
#include "FlashCheck.h"
#include "HexFiles.h"
#include "app/qt/AboutDlg.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/QtMessageSeam.h"
#include "app/qt/Resources.h"
#include "app/qt/StaticEx.h"
#include "app/qt/VantroDlg.h"
#include "bootloader/Commands.h"
#include "midi/MidiExceptions.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
// Attempts of 50 ms for a unit that is meant to stay silent; of 5 s otherwise, so that a
// loaded machine adds no retry to the counts.
const LinkTimings kFast{std::chrono::milliseconds(2), 25, 3, true, {}, {}, true};
const LinkTimings kPatient{std::chrono::milliseconds(50), 100, 3, true, {}, {}, true};

// Waits (processing events) until f holds or the bound passes.
template <typename F>
bool WaitUntil(F f, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!f()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QTest::qWait(5);
    }
    return true;
}

QPushButton* Button(CVANTRODlg& d, int id) {
    return qobject_cast<QPushButton*>(d.Control(id));
}
QLineEdit* Edit(CVANTRODlg& d, int id) {
    return qobject_cast<QLineEdit*>(d.Control(id));
}

void Click(CVANTRODlg& d, int id) {
    QTest::mouseClick(Button(d, id), Qt::LeftButton);
}

class QtDialogTest : public ::testing::Test {
  protected:
    std::unique_ptr<CVANTRODlg> Open(const LinkTimings& timings = kPatient) {
        auto dlg = std::make_unique<CVANTRODlg>(&messages_);
        dlg->SetLinkTimings(timings);
        dlg->SetFileChooser([this](QWidget*) -> std::optional<QString> {
            ++fileDialogs_;
            return chosen_;
        });
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        return dlg;
    }

    RecordingMessageSeam messages_{MessageAnswer::Yes};
    std::optional<QString> chosen_ = QString::fromStdString(kExample);
    int fileDialogs_ = 0;
};

TEST_F(QtDialogTest, StartState) {
    sim::InProcessUnit unit;
    auto dlg = Open();
    EXPECT_EQ(dlg->windowTitle(), "VANTRO Assistant V1.1");
    EXPECT_TRUE(Edit(*dlg, IDC_STATUS)->text().isEmpty());
    EXPECT_TRUE(Edit(*dlg, IDC_FIRMWARE_PATH)->text().isEmpty());
    EXPECT_TRUE(Edit(*dlg, IDC_STATUS)->isReadOnly());
    EXPECT_EQ(dlg->m_cbInPorts->currentIndex(), dlg->m_cbInPorts->count() - 1);
    EXPECT_EQ(dlg->m_cbInPorts->currentText(), sim::kUnitPortName);
    EXPECT_EQ(dlg->m_cbOutPorts->currentText(), sim::kUnitPortName);
    for (CStaticEx* step : {dlg->m_lblStep1, dlg->m_lblStep2, dlg->m_lblStep3, dlg->m_lblStep4,
                            dlg->m_lblStep5, dlg->m_lblStep6}) {
        EXPECT_EQ(step->font().weight(), QFont::DemiBold) << step->text().toStdString();
        EXPECT_EQ(step->font().pointSize(), 8);  // the dialog's size, not the desktop's
        EXPECT_FALSE(step->font().italic());
    }

    EXPECT_EQ(dlg->m_lblStep6->text(), "Step 6.");
    EXPECT_FALSE(dlg->Control(IDC_REFRESH)->isVisible());
    EXPECT_FALSE(dlg->Control(IDC_RESET)->isVisible());
    EXPECT_TRUE(Button(*dlg, IDOK)->isDefault());
    EXPECT_FALSE(dlg->isSizeGripEnabled());
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());  // fixed size
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMaximizeButtonHint);

    const auto actions = dlg->SystemMenu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), "&About VANTRO...");
    EXPECT_EQ(actions[2]->text(), "&Find the VANTRO unit");
    QString aboutTitle;
    dlg->SetAboutRunner([&](QDialog& about) { aboutTitle = about.windowTitle(); });
    actions[1]->trigger();
    EXPECT_EQ(aboutTitle, "About VANTRO");
    dlg->SetFindWait(std::chrono::seconds(5));  // ends at the unit's answer
    actions[2]->trigger();                      // the unit is found as Verify would show it
    EXPECT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");
    EXPECT_THAT(messages_.Texts(), IsEmpty());
}

TEST_F(QtDialogTest, TabOrderFollowsTheTemplate) {
    auto dlg = Open();
    std::vector<int> ids;
    QWidget* w = Button(*dlg, IDOK);
    for (int i = 0; i < 100 && w != nullptr; ++i) {
        if (w->isVisible() && w->focusPolicy() & Qt::TabFocus)
            ids.push_back(w->property("controlId").toInt());
        w = w->nextInFocusChain();
        if (w == Button(*dlg, IDOK))
            break;
    }
    EXPECT_THAT(ids, ElementsAre(IDOK, IDC_IN_PORTS, IDC_OUT_PORTS, IDC_VERIFY, IDC_STATUS,
                                 IDC_FIRMWARE_PATH, IDC_BROWSE, IDC_UPGRADE));
}

TEST(MessageBoxes, CaptionIsTheExecutablesBaseName) {
    EXPECT_EQ(ApplicationTitle(), "app_test");
}

TEST_F(QtDialogTest, AboutBoxContents) {
    CAboutDlg about;
    QStringList texts;
    for (auto* label : about.findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("VANTRO, Version 1.1"));
    auto* ok = about.findChild<QPushButton*>("IDOK");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
}

TEST_F(QtDialogTest, TheSixStepsByClicks) {
    sim::InProcessUnit unit;
    auto dlg = Open();

    Click(*dlg, IDC_BROWSE);  // before Verify: refused
    EXPECT_THAT(messages_.Texts(), ElementsAre("Please verify the connection!"));
    EXPECT_EQ(fileDialogs_, 0);

    Click(*dlg, IDC_VERIFY);
    EXPECT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");

    Click(*dlg, IDC_BROWSE);
    EXPECT_EQ(fileDialogs_, 1);
    EXPECT_EQ(Edit(*dlg, IDC_FIRMWARE_PATH)->text().toStdString(), kExample);

    std::vector<int> positions;
    std::vector<bool> enabledDuringRun;
    QObject::connect(dlg->m_ctlProgress, &QProgressBar::valueChanged, [&](int v) {
        positions.push_back(v);
        enabledDuringRun.push_back(dlg->Control(IDC_UPGRADE)->isEnabled());
    });
    Click(*dlg, IDC_UPGRADE);
    EXPECT_THAT(messages_.Texts().back(), "VANTRO Update is completed and OK!\r\nRestart VANTRO?");
    EXPECT_TRUE(testutil::Eventually([&] { return unit.Core().Restarts() == 1; }));
    EXPECT_EQ(unit.Core().Requests(code::kWriteBlock), 104);
    EXPECT_EQ(dlg->m_ctlProgress->maximum(), 104);
    ASSERT_GE(positions.size(), 104u);
    EXPECT_EQ(positions[positions.size() - 2], 103);
    EXPECT_EQ(positions.back(), 0);
    EXPECT_EQ(dlg->m_ctlProgress->value(), 0);
    for (std::size_t i = 0; i + 1 < enabledDuringRun.size(); ++i) {
        EXPECT_FALSE(enabledDuringRun[i]) << i;
    }
    EXPECT_TRUE(dlg->Control(IDC_UPGRADE)->isEnabled());
    // The focus is back on the button the run disabled: the next Enter does not quit.
    EXPECT_EQ(dlg->focusWidget(), dlg->Control(IDC_UPGRADE));

    Click(*dlg, IDC_VERIFY);  // a second Verify keeps the path
    EXPECT_EQ(Edit(*dlg, IDC_FIRMWARE_PATH)->text().toStdString(), kExample);

    // A file with nothing above the boot area: an empty plan is an empty bar, not Qt's busy
    // animation of an empty range.
    testutil::TempFile low(testutil::Lines({testutil::Data(0x0000, {1, 2, 3, 4}), testutil::kEof}));
    chosen_ = QString::fromStdString(low.Path());
    Click(*dlg, IDC_BROWSE);
    Click(*dlg, IDC_UPGRADE);
    EXPECT_LT(dlg->m_ctlProgress->minimum(), dlg->m_ctlProgress->maximum());
    EXPECT_LE(dlg->m_ctlProgress->value(), dlg->m_ctlProgress->minimum());
}

// Over a cable that loses long messages the run paces them by itself and says so.
TEST_F(QtDialogTest, UpgradesOverACableThatLosesLongMessagesWithTheNote) {
    sim::SimOptions cable;
    cable.fifo = 64;
    sim::InProcessUnit unit(cable);
    const testutil::TempFile fw(testutil::ApplicationBlocks(3), "fw.hex");
    chosen_ = QString::fromStdString(fw.Path());
    auto dlg = Open(kFast);
    Click(*dlg, IDC_VERIFY);
    Click(*dlg, IDC_BROWSE);
    Click(*dlg, IDC_UPGRADE);
    EXPECT_TRUE(testutil::PacedFromTheFirstBlock(messages_.Texts().back()));
    EXPECT_TRUE(testutil::FlashHoldsTheFile(unit.Core().FlashDump(), fw.Path()));
}

TEST_F(QtDialogTest, DeviceChangeRefreshesAndSelectsTheLastAgain) {
    platform::VirtualInputPort a("first in"), b("second in");
    platform::VirtualOutputPort out("some out", nullptr);
    auto dlg = Open();
    ASSERT_EQ(dlg->m_cbInPorts->count(), 2);
    dlg->m_cbInPorts->setCurrentIndex(0);  // the user's choice
    platform::VirtualInputPort c("third in");
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_cbInPorts->count() == 3; }));
    EXPECT_EQ(dlg->m_cbInPorts->currentIndex(), 2);
    EXPECT_EQ(dlg->m_cbInPorts->currentText(), "third in");
    EXPECT_EQ(dlg->m_cbOutPorts->currentText(), "some out");
}

TEST_F(QtDialogTest, InputDuringARunIsNotActedOnButTheWindowPaints) {
    sim::SimOptions o;
    o.baud = 31250;  // an upgrade of 104 blocks now takes about 18 s: it is stopped early
    sim::InProcessUnit unit(o);
    auto dlg = Open();
    // A write request takes 169 ms on this wire: attempts of 400 ms.
    dlg->SetLinkTimings(LinkTimings{std::chrono::milliseconds(10), 40, 3, true, {}, {}, true});
    Click(*dlg, IDC_VERIFY);
    ASSERT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");
    Click(*dlg, IDC_BROWSE);

    int paintsDuringRun = 0;
    bool quitWasIgnored = false;
    std::set<int> cursors;
    QTimer poke;
    poke.setInterval(20);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        if (!dlg->Assistant().Busy())
            return;
        dlg->m_ctlProgress->repaint();
        ++paintsDuringRun;
        cursors.insert(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                      : -1);
        QTest::mouseClick(Button(*dlg, IDOK), Qt::LeftButton);
        QTest::keyClick(dlg.get(), Qt::Key_Escape);
        quitWasIgnored = dlg->isVisible();
        if (dlg->m_ctlProgress->value() >= 3) {
            // Enough seen: let the unit fall silent so the run ends soon.
            unit.Unit().Stop();
        }
    });
    poke.start();
    Click(*dlg, IDC_UPGRADE);
    poke.stop();
    EXPECT_GT(paintsDuringRun, 3);
    EXPECT_GE(unit.Core().Requests(code::kWriteBlock), 3) << messages_.Texts().back();
    EXPECT_TRUE(quitWasIgnored);
    EXPECT_THAT(cursors, ElementsAre(Qt::WaitCursor));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_THAT(messages_.Texts().back(), ::testing::StartsWith("VANTRO Update FAILED:\r\n"));
    EXPECT_TRUE(dlg->Control(IDC_UPGRADE)->isEnabled());
}

// Template 102 as the window must show it, written out here on its own: row (template order),
// identifier (-1 for statics), text, rectangle in dialog units, shown.
struct TemplateRow {
    int id;
    const char* text;
    int x, y, w, h;
    bool visible;
};
const TemplateRow kAssistantTemplate[] = {
    {1, "Quit", 601, 255, 50, 14, true},
    {1000, "", 334, 50, 75, 120, true},
    {-1,
     "To upgrade your VANTRO unit you need a USB to 5-pin MIDI converter (ex: Roland UM-ONE Mk2) "
     "and connect it to the VANTRO 5-pin MIDI connectors.",
     370, 5, 279, 20, true},
    {-1, "Select the correct MIDI device connection here .", 370, 30, 156, 8, true},
    {-1, "IN", 334, 40, 8, 8, true},
    {1001, "", 424, 50, 73, 115, true},
    {-1, "OUT", 424, 40, 15, 8, true},
    {1002, "<< Refresh", 514, 50, 45, 14, false},
    {1003, "<< Verify", 444, 121, 45, 14, true},
    {1004, "", 334, 121, 100, 14, true},
    {-1, "", 330, 250, 322, 1, true},
    {1005, "", 335, 165, 260, 14, true},
    {1006, "<< Browse...", 600, 165, 55, 14, true},
    {1007, "Upgrade VANTRO", 335, 205, 260, 20, true},
    {-1, "Status:", 334, 111, 24, 8, true},
    {-1, "Select the firmware file you wish to download.", 370, 150, 148, 8, true},
    {-1, "Verify connection. Status should say OK and version number.", 370, 100, 197, 8, true},
    {-1,
     "Remove power from VANTRO, and then connect power again and immediately turn the Merge "
     "switch up and down quickly a few times until all LED's flashing.",
     370, 75, 274, 17, true},
    {-1, "", 332, 25, 330, 1, true},
    {-1, "", 330, 140, 330, 1, true},
    {-1, "", 330, 70, 330, 1, true},
    {-1, "", 330, 95, 330, 1, true},
    {-1, "Press the upgrade button, and wait until completed. In case of error, goto step 3", 370,
     190, 261, 8, true},
    {-1, "", 330, 185, 330, 1, true},
    {-1, "Progress:", 335, 230, 32, 8, true},
    {1008, "", 385, 230, 209, 10, true},
    {-1, "", 5, 5, 318, 251, true},
    {1009, "Reset", 481, 255, 50, 14, false},
    {1010, "Step 1.", 335, 5, 30, 8, true},
    {1011, "Step 2.", 335, 30, 30, 8, true},
    {1012, "Step 3.", 335, 75, 30, 8, true},
    {1013, "Step 4.", 335, 100, 30, 8, true},
    {1014, "Step 5.", 335, 150, 30, 8, true},
    {1015, "Step 6.", 335, 190, 30, 8, true},
};

QString TextOf(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    return {};
}

TEST_F(QtDialogTest, ControlsStandWhereTheTemplatePutsThem) {
    sim::InProcessUnit unit;
    chosen_ = "/home/user/firmware/vantro-demo.hex";  // no machine's own path in the picture
    auto dlg = Open();
    Click(*dlg, IDC_VERIFY);
    Click(*dlg, IDC_BROWSE);
    const DialogUnits du(dlg->font());
    EXPECT_EQ(dlg->size(), QSize(du.X(665), du.Y(274)));
    ASSERT_EQ(dlg->Controls().size(), std::size(kAssistantTemplate));
    int row = 0;
    for (const auto& t : kAssistantTemplate) {
        ++row;
        QWidget* w = dlg->Control(t.id >= 0 ? t.id : -row);
        ASSERT_NE(w, nullptr) << "row " << row;
        EXPECT_EQ(dlg->Controls()[row - 1].widget, w) << "row " << row << " out of order";
        EXPECT_EQ(w->isVisible(), t.visible) << "row " << row;
        EXPECT_EQ(TextOf(w).toStdString(), t.text) << "row " << row;
        const QRect want = du.Rect(t.x, t.y, t.w, t.h);
        if (qobject_cast<QComboBox*>(w)) {
            // The template's height is the dropped list's; closed, the box is one line.
            EXPECT_EQ(w->geometry(), QRect(want.topLeft(), QSize(want.width(), du.Y(14))))
                << "row " << row;
        } else if (t.h == 1 && row != 11) {
            // A black rule: one device pixel high, wherever dialog units round.
            EXPECT_EQ(w->geometry(), QRect(want.topLeft(), QSize(want.width(), 1)))
                << "row " << row;
        } else if (row == 11) {
            EXPECT_EQ(w->geometry().topLeft(), want.topLeft()) << "the etched line";
            EXPECT_EQ(w->width(), want.width());
        } else {
            EXPECT_EQ(w->geometry(), want) << "row " << row;
        }
    }
    const QString folder = QString(VANTRO_BUILD_DIR) + "/screenshots";
    QDir().mkpath(folder);
    EXPECT_TRUE(dlg->grab().save(folder + "/assistant.png"));
}

TEST_F(QtDialogTest, EnterPressesTheFocusedButtonAndQuitElsewhere) {
    sim::InProcessUnit unit;
    auto dlg = Open();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    auto enterOn = [&](QWidget* w) {
        w->setFocus();
        EXPECT_TRUE(WaitUntil([&] { return w->hasFocus(); }));
        QTest::keyClick(w, Qt::Key_Return);
    };
    enterOn(Button(*dlg, IDC_BROWSE));  // refused before Verify: its own message, no Quit
    EXPECT_THAT(messages_.Texts(), ElementsAre("Please verify the connection!"));
    enterOn(Button(*dlg, IDC_VERIFY));
    EXPECT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");
    QTest::keyClick(Button(*dlg, IDC_VERIFY), Qt::Key_Enter);  // the keypad's Enter too
    enterOn(Button(*dlg, IDC_UPGRADE));
    EXPECT_EQ(messages_.Texts().back(), "Please load a file!");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(unit.Core().Requests(code::kIdentify), 2);

    for (QWidget* elsewhere :
         {static_cast<QWidget*>(dlg->m_cbInPorts), static_cast<QWidget*>(Edit(*dlg, IDC_STATUS)),
          static_cast<QWidget*>(Button(*dlg, IDOK))}) {
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        enterOn(elsewhere);
        EXPECT_FALSE(dlg->isVisible()) << elsewhere->objectName().toStdString();
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
    }
}

TEST_F(QtDialogTest, PortNamesInTooltipsAndAHintForAnEmptyList) {
    {
        auto dlg = Open();  // no ports at all
        for (QComboBox* list : {dlg->m_cbInPorts, dlg->m_cbOutPorts}) {
            EXPECT_EQ(list->placeholderText(), "No MIDI ports found");
            EXPECT_EQ(list->count(), 0);  // the hint is no entry
            EXPECT_EQ(list->currentIndex(), -1);
        }
    }
    const std::string longName = "USB MIDI Interface MIDI 1 (2)";
    platform::VirtualInputPort a("short"), b(longName);
    platform::VirtualOutputPort out(longName, nullptr);
    auto dlg = Open();
    for (QComboBox* list : {dlg->m_cbInPorts, dlg->m_cbOutPorts}) {
        EXPECT_TRUE(list->placeholderText().isEmpty());
        EXPECT_EQ(list->toolTip().toStdString(), longName);
        const int last = list->count() - 1;
        EXPECT_EQ(list->itemData(last, Qt::ToolTipRole).toString().toStdString(), longName);
        EXPECT_GE(list->view()->minimumWidth(),
                  QFontMetrics(list->view()->font()).horizontalAdvance(list->itemText(last)));
    }
    dlg->m_cbInPorts->setCurrentIndex(0);
    EXPECT_EQ(dlg->m_cbInPorts->toolTip(), "short");
}

TEST_F(QtDialogTest, PictureFillsItsRectangleAndRulesAreOneDevicePixel) {
    auto dlg = Open();
    const DialogUnits du(dlg->font());
    auto* picture = qobject_cast<QLabel*>(dlg->Control(-27));
    ASSERT_NE(picture, nullptr);
    const QRect frame = du.Rect(5, 5, 318, 251);
    EXPECT_EQ(picture->geometry(), frame);
    EXPECT_EQ(picture->frameShadow(), QFrame::Sunken);
    // The bitmap fills the rectangle in one direction and is centred in the other.
    const QSizeF shown = picture->pixmap().deviceIndependentSize();
    const QSize inside = frame.size() - QSize(2, 2);
    EXPECT_TRUE(qAbs(shown.width() - inside.width()) <= 1 ||
                qAbs(shown.height() - inside.height()) <= 1)
        << shown.width() << "x" << shown.height();
    EXPECT_EQ(picture->alignment(), Qt::AlignCenter);

    const QImage image = dlg->grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    for (const int row : {19, 20, 21, 22, 24}) {
        const QRect r = dlg->Control(-row)->geometry();
        const int x = static_cast<int>((r.center().x()) * dpr);
        int black = 0;
        for (int y = static_cast<int>((r.top() - 3) * dpr); y <= (r.top() + 3) * dpr; ++y)
            black += image.pixelColor(x, y) == QColor(Qt::black);
        EXPECT_EQ(black, 1) << "rule of row " << row << " at scale " << dpr;
    }
}

TEST(StaticEx, ColoursAreTakenOnceAndBoldTwiceLeavesOneFont) {
    const QPalette original = QApplication::palette();
    CStaticEx label("Step 1.");
    const QColor text = label.TextColour(), back = label.BackColour();
    EXPECT_EQ(text, original.color(QPalette::ButtonText));
    EXPECT_EQ(back, original.color(QPalette::Button));
    QPalette changed = original;
    changed.setColor(QPalette::ButtonText, Qt::red);
    QApplication::setPalette(changed);
    EXPECT_EQ(label.TextColour(), text);  // later changes do not reach the label
    QApplication::setPalette(original);

    // On a dialog, bold is the dialog's 8-point font made bold, whatever the desktop's size.
    QWidget dialog;
    QFont eight = QApplication::font();
    eight.setPointSize(8);
    dialog.setFont(eight);
    label.setParent(&dialog);
    label.MakeBold();
    label.MakeBold();
    EXPECT_EQ(label.font().weight(), 600);
    EXPECT_EQ(label.font().pointSize(), 8);
    label.setParent(nullptr);  // the label is the test's, not the dialog's
    EXPECT_FALSE(label.font().italic());
    EXPECT_EQ(label.font(), label.OwnFont());

    QImage image(10, 10, QImage::Format_ARGB32);
    QPainter painter(&image);
    const QBrush& brush = label.CtlColor(painter);
    EXPECT_EQ(brush.color(), back);
    EXPECT_EQ(painter.pen().color(), text);
    EXPECT_EQ(&brush, &label.CtlColor(painter));  // the label's own brush
}

}  // namespace
}  // namespace vantro::app

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

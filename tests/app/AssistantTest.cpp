// The assistant window, offscreen, driven by clicks; message boxes, the file dialog and the
// about box answered through seams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "../midi/MidiTestSupport.h"
#include "app/AboutDlg.h"
#include "app/QtMessageSeam.h"
#include "app/Resources.h"
#include "app/StaticEx.h"
#include "app/VantroDlg.h"
#include "bootloader/Commands.h"
#include "midi/MidiExceptions.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"

namespace vantro::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
const LinkTimings kFast{std::chrono::milliseconds(2), 25, 3, true, {}};

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

class AssistantTest : public ::testing::Test {
  protected:
    std::unique_ptr<CVANTRODlg> Open() {
        auto dlg = std::make_unique<CVANTRODlg>(&messages_);
        dlg->SetLinkTimings(kFast);
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

TEST_F(AssistantTest, StartState) {
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
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), "&About VANTRO...");
    QString aboutTitle;
    dlg->SetAboutRunner([&](QDialog& about) { aboutTitle = about.windowTitle(); });
    actions[1]->trigger();
    EXPECT_EQ(aboutTitle, "About VANTRO");
    aboutTitle.clear();
    dlg->OnSysCommand(0x0013);  // masked with 0xFFF0 it is the about item
    EXPECT_EQ(aboutTitle, "About VANTRO");
    EXPECT_THAT(messages_.Texts(), IsEmpty());
}

TEST_F(AssistantTest, TabOrderFollowsTheTemplate) {
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

TEST_F(AssistantTest, CancelledBrowseKeepsThePath) {
    sim::InProcessUnit unit;
    auto dlg = Open();
    Click(*dlg, IDC_VERIFY);
    Click(*dlg, IDC_BROWSE);
    chosen_.reset();  // the user cancels
    Click(*dlg, IDC_BROWSE);
    EXPECT_EQ(fileDialogs_, 2);
    EXPECT_EQ(Edit(*dlg, IDC_FIRMWARE_PATH)->text().toStdString(), kExample);
}

TEST(MessageBoxes, CaptionIsTheExecutablesBaseName) {
    EXPECT_EQ(ApplicationTitle(), "app_test");
}

TEST_F(AssistantTest, AboutBoxContents) {
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

TEST_F(AssistantTest, TheSixStepsByClicks) {
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
    EXPECT_EQ(unit.Core().Restarts(), 1);
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

    Click(*dlg, IDC_VERIFY);  // a second Verify keeps the path
    EXPECT_EQ(Edit(*dlg, IDC_FIRMWARE_PATH)->text().toStdString(), kExample);
}

TEST_F(AssistantTest, SilentUnitGivesErrorAndBrowseIsRefused) {
    sim::SimOptions o;
    o.faults[sim::FaultKind::Drop] = 1.0;
    sim::InProcessUnit unit(o);
    auto dlg = Open();
    Click(*dlg, IDC_VERIFY);
    EXPECT_EQ(Edit(*dlg, IDC_STATUS)->text(), "ERROR!");
    Click(*dlg, IDC_BROWSE);
    EXPECT_THAT(messages_.Texts(), ElementsAre("Please verify the connection!"));
    EXPECT_EQ(fileDialogs_, 0);
}

TEST_F(AssistantTest, NoPortsMeansInvalidDeviceSelected) {
    auto dlg = Open();  // this suite sees no real ports, and no unit is there
    EXPECT_EQ(dlg->m_cbInPorts->count(), 0);
    EXPECT_EQ(dlg->m_cbInPorts->currentIndex(), -1);
    Click(*dlg, IDC_VERIFY);
    Click(*dlg, IDC_UPGRADE);
    EXPECT_THAT(messages_.Texts(), ElementsAre("Invalid device selected", "Please load a file!"));
    dlg->OnReset();
    EXPECT_EQ(messages_.Texts().back(), "Invalid device selected");
    EXPECT_TRUE(Edit(*dlg, IDC_STATUS)->text().isEmpty());
}

TEST_F(AssistantTest, PortFailureIsShownAndTheDialogStaysUsable) {
    sim::InProcessUnit unit;
    auto dlg = Open();
    Click(*dlg, IDC_VERIFY);
    ASSERT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");
    {
        midi::CMIDIInDevice other;  // someone else holds the unit's port
        other.OpenPort(static_cast<UINT>(dlg->m_cbInPorts->currentIndex()));
        Click(*dlg, IDC_VERIFY);
        EXPECT_THAT(messages_.Texts(), ElementsAre(testutil::ErrorText(MMSYSERR_ALLOCATED)));
        EXPECT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");  // kept
    }
    Click(*dlg, IDC_VERIFY);
    EXPECT_EQ(messages_.Texts().size(), 1u);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(AssistantTest, DeviceChangeRefreshesAndSelectsTheLastAgain) {
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

TEST_F(AssistantTest, InputDuringARunIsNotActedOnButTheWindowPaints) {
    sim::SimOptions o;
    o.baud = 31250;  // an upgrade of 104 blocks now takes about 18 s: it is stopped early
    sim::InProcessUnit unit(o);
    auto dlg = Open();
    // A write request takes 169 ms on this wire: attempts of 400 ms.
    dlg->SetLinkTimings(LinkTimings{std::chrono::milliseconds(10), 40, 3, true, {}});
    Click(*dlg, IDC_VERIFY);
    ASSERT_EQ(Edit(*dlg, IDC_STATUS)->text(), "OK - BL V1.2, FW V3.4");
    Click(*dlg, IDC_BROWSE);

    int paintsDuringRun = 0;
    bool quitWasIgnored = false;
    QTimer poke;
    poke.setInterval(20);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        if (!dlg->Busy())
            return;
        dlg->m_ctlProgress->repaint();
        ++paintsDuringRun;
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
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_THAT(messages_.Texts().back(), ::testing::StartsWith("VANTRO Update FAILED:\r\n"));
    EXPECT_TRUE(dlg->Control(IDC_UPGRADE)->isEnabled());
}

TEST_F(AssistantTest, LayoutKeepsTheTemplateAndTheScreenshotIsWritten) {
    sim::InProcessUnit unit;
    chosen_ = "/home/user/firmware/vantro-demo.hex";  // no machine's own path in the picture
    auto dlg = Open();
    Click(*dlg, IDC_VERIFY);
    Click(*dlg, IDC_BROWSE);
    const QRect client = dlg->rect();
    const auto& controls = dlg->Controls();
    auto overlapsInTemplate = [](const QRect& a, const QRect& b) { return a.intersects(b); };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& a = controls[i];
        if (!a.widget->isVisible())
            continue;
        EXPECT_TRUE(client.contains(a.widget->geometry())) << "row " << a.row;
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const auto& b = controls[j];
            if (!b.widget->isVisible())
                continue;
            if (a.widget->geometry().intersects(b.widget->geometry())) {
                // Combo boxes count with their closed height, one line.
                QRect ta = a.templateRect, tb = b.templateRect;
                if (qobject_cast<QComboBox*>(a.widget))
                    ta.setHeight(14);
                if (qobject_cast<QComboBox*>(b.widget))
                    tb.setHeight(14);
                EXPECT_TRUE(overlapsInTemplate(ta, tb)) << "rows " << a.row << " and " << b.row;
            }
        }
    }
    const QString docs = QString(VANTRO_SOURCE_DIR) + "/docs";
    QDir().mkpath(docs);
    EXPECT_TRUE(dlg->grab().save(docs + "/assistant.png"));
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

    label.MakeBold();
    label.MakeBold();
    EXPECT_EQ(label.font().weight(), 600);
    EXPECT_EQ(label.font().pointSizeF(), QApplication::font().pointSizeF());
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

#include "app/qt/DialogTemplate.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <iterator>

#include "app/qt/Resources.h"
#include "app/qt/StaticEx.h"

namespace vantro::app {

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

const std::size_t kTemplateSize = std::size(kTemplate);

namespace {

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

}  // namespace

QWidget* MakeControl(const ControlSpec& c, const DialogUnits& du, QRect& r, QWidget* parent) {
    switch (c.kind) {
        case Kind::Button:
        case Kind::DefaultButton: {
            auto* b = new QPushButton(c.text, parent);
            b->setDefault(c.kind == Kind::DefaultButton);
            // A push button with the focus takes Enter, as the focused button of a dialog
            // does; Enter elsewhere goes to "Quit".
            b->setAutoDefault(true);
            return b;
        }
        case Kind::Combo: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);
            combo->setInsertPolicy(QComboBox::InsertAtBottom);
            // The template's height is the dropped-down list's; the closed box is one
            // line high, as an edit.
            r.setHeight(du.Y(14));
            return combo;
        }
        case Kind::Text: {
            auto* label = new QLabel(c.text, parent);
            label->setWordWrap(c.h > 8);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case Kind::Edit: {
            auto* edit = new QLineEdit(parent);
            edit->setReadOnly(true);
            return edit;
        }
        case Kind::EtchedLine: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            r.setHeight(std::max(2, r.height()));
            return line;
        }
        case Kind::BlackRule: {
            // One device pixel, whatever the scale: rounding dialog units may not decide.
            r.setHeight(1);
            return new BlackRule(parent);
        }
        case Kind::Progress: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case Kind::Bitmap: {
            // The picture fills the template's rectangle, scaled to fit and centred, with
            // the sunken edge around the whole rectangle.
            auto* picture = new QLabel(parent);
            picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            picture->setLineWidth(1);
            picture->setAlignment(Qt::AlignCenter);
            const QSize inside = r.size() - QSize(2, 2);
            const qreal dpr = parent->devicePixelRatioF();
            QPixmap pixmap =
                QPixmap(":/vantro/connections.png")
                    .scaled(inside * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            pixmap.setDevicePixelRatio(dpr);
            picture->setPixmap(pixmap);
            return picture;
        }
        case Kind::Step:
            return new CStaticEx(c.text, parent);
    }
    return nullptr;
}

}  // namespace vantro::app

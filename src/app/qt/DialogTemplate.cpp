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

// Template 102, from the one place its controls are given.
const ControlSpec kTemplate[] = {
#define TEMPLATE_CONTROL(kind, text, id, x, y, w, h, visible) \
    {id, Kind::kind, text, x, y, w, h, (visible) != 0},
#include "assistant/Template102.def"
#undef TEMPLATE_CONTROL
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

// The picture fills the template's rectangle, scaled to fit and centred, with the sunken edge
// around the whole rectangle.
QWidget* MakePicture(const QRect& r, QWidget* parent) {
    auto* picture = new QLabel(parent);
    picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture->setLineWidth(1);
    picture->setAlignment(Qt::AlignCenter);
    const QSize inside = r.size() - QSize(2, 2);
    const qreal dpr = parent->devicePixelRatioF();
    QPixmap pixmap = QPixmap(":/vantro/connections.png")
                         .scaled(inside * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(dpr);
    picture->setPixmap(pixmap);
    return picture;
}

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
        case Kind::Bitmap:
            return MakePicture(r, parent);
        case Kind::Step:
            return new CStaticEx(c.text, parent);
    }
    return nullptr;
}

}  // namespace vantro::app

#include "app/qt/AboutDlg.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/qt/DialogUnits.h"
#include "app/qt/Resources.h"

namespace vantro::app {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const DialogUnits du(PrepareDialog(*this, "IDD_ABOUT", ABOUT_CAPTION));
    struct Control {
        enum Kind { Icon, Text, DefaultButton } kind;
        const char* text;
        int id, x, y, w, h;
    };
    const Control controls[] = {
#define ABOUT_CONTROL(kind, text, id, x, y, w, h) {Control::kind, text, id, x, y, w, h},
#include "assistant/Template100.def"
#undef ABOUT_CONTROL
    };
    for (const Control& c : controls) {
        QWidget* w = nullptr;  // each owned by the dialog
        if (c.kind == Control::Icon) {
            auto* icon = new QLabel(this);
            icon->setPixmap(QIcon(":/vantro/icon.png").pixmap(du.X(c.w), du.Y(c.h)));
            w = icon;
        } else if (c.kind == Control::Text) {
            auto* text = new QLabel(c.text, this);
            text->setTextFormat(Qt::PlainText);
            w = text;
        } else {
            auto* ok = new QPushButton(c.text, this);
            ok->setObjectName("IDOK");
            ok->setDefault(true);
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
            w = ok;
        }
        w->setGeometry(du.Rect(c.x, c.y, c.w, c.h));
    }
    setFixedSize(du.X(ABOUT_WIDTH), du.Y(ABOUT_HEIGHT));
}

}  // namespace vantro::app

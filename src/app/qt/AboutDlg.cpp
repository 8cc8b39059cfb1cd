#include "app/qt/AboutDlg.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/qt/DialogUnits.h"
#include "app/qt/Resources.h"

namespace vantro::app {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const DialogUnits du(PrepareDialog(*this, "IDD_ABOUT", "About VANTRO"));

    auto* icon = new QLabel(this);  // owned by the dialog
    icon->setPixmap(QIcon(":/vantro/icon.png").pixmap(du.X(20), du.Y(20)));
    icon->setGeometry(du.Rect(14, 14, 20, 20));

    auto* text = new QLabel("VANTRO, Version 1.1", this);
    text->setTextFormat(Qt::PlainText);
    text->setGeometry(du.Rect(42, 14, 114, 8));

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("IDOK");
    ok->setDefault(true);
    ok->setGeometry(du.Rect(113, 41, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(du.X(170), du.Y(62));
}

}  // namespace vantro::app

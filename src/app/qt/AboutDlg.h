#pragma once

#include <QDialog>

namespace vantro::app {

// The about box: the icon, "VANTRO, Version 1.1" and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace vantro::app

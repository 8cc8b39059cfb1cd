#pragma once

#include <QString>

#include "seam/MessageSeam.h"

class QWidget;

namespace vantro::app {

// Message boxes captioned with the executable's base name: an exclamation icon on OK boxes,
// a question icon on Yes/No boxes.
class QtMessageSeam : public MessageSeam {
  public:
    explicit QtMessageSeam(QWidget* parent) : parent_(parent) {}
    MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

  private:
    QWidget* parent_;
};

// The caption of every message box.
QString ApplicationTitle();

}  // namespace vantro::app

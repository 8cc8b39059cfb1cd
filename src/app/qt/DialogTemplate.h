#pragma once
// Template 102 of the assistant dialog, in template order (which is the tab order), and the Qt
// widget each of its controls becomes.

#include <QRect>
#include <QWidget>

#include "app/qt/DialogUnits.h"
#include "assistant/DialogIds.h"

namespace vantro::app {

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

extern const ControlSpec kTemplate[];
extern const std::size_t kTemplateSize;

inline constexpr int kDialogWidth = ASSISTANT_WIDTH;
inline constexpr int kDialogHeight = ASSISTANT_HEIGHT;

// The control's widget on parent; r (the template's rectangle in pixels) is adjusted where the
// widget's own shape differs (a closed drop-down list, a rule).
QWidget* MakeControl(const ControlSpec& c, const DialogUnits& du, QRect& r, QWidget* parent);

}  // namespace vantro::app

#pragma once

#include "platform/Windows.h"

namespace vantro::win32 {

// Makes each step's description (the text beside a "Step N." caption) show whole in the font
// its control has: template 102 was laid out for MS Sans Serif, and Tahoma, which MS Shell Dlg
// gives on newer systems, sets wider words. A text that does not fit is widened, within the step
// panel and short of any other control, and where that is not enough made taller; no other
// control moves. Call once the controls have their fonts, at the end of WM_INITDIALOG.
void FitStepTexts(HWND dialog);

}  // namespace vantro::win32

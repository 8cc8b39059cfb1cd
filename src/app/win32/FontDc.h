#pragma once

#include "platform/Windows.h"

namespace vantro::win32 {

// A window's device context with the window's own font selected into it, to measure text as
// the window draws it; both given back on every way out.
class FontDc {
  public:
    explicit FontDc(HWND window) : window_(window), dc_(GetDC(window)) {
        const auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
        if (dc_ != nullptr && font != nullptr)
            old_ = SelectObject(dc_, font);
    }
    ~FontDc() {
        if (dc_ == nullptr)
            return;
        if (old_ != nullptr)
            SelectObject(dc_, old_);
        ReleaseDC(window_, dc_);
    }
    FontDc(const FontDc&) = delete;
    FontDc& operator=(const FontDc&) = delete;
    HDC Get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
    HGDIOBJ old_ = nullptr;
};

}  // namespace vantro::win32

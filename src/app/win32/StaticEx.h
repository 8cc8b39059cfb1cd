#pragma once

#include "platform/Windows.h"

namespace vantro::win32 {

// A static text control with its own colours and font: the dialog answers WM_CTLCOLORSTATIC
// for it with CtlColor. The brush and the font are the label's own.
class CStaticEx {
  public:
    CStaticEx();
    ~CStaticEx();
    CStaticEx(const CStaticEx&) = delete;
    CStaticEx& operator=(const CStaticEx&) = delete;

    void Attach(HWND control) { m_hWnd = control; }
    HWND Window() const { return m_hWnd; }
    // Bold (weight 600) from the default GUI font, given to the control.
    void MakeBold();
    // Sets the colours on dc and returns the background brush.
    HBRUSH CtlColor(HDC dc);
    // The window is going: its brush and font go with it.
    void OnDestroy();

    COLORREF m_crText;
    COLORREF m_crBack;
    HBRUSH m_brBack = nullptr;
    int m_nFontHeight = -1;
    BOOL m_bBold = FALSE;
    BOOL m_bItalic = FALSE;
    HFONT m_font = nullptr;

  private:
    HWND m_hWnd = nullptr;
};

}  // namespace vantro::win32

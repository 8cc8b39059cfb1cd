#include "app/win32/StaticEx.h"

namespace vantro::win32 {

namespace {

LOGFONTA DefaultGuiFont() {
    LOGFONTA lf{};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    return lf;
}

}  // namespace

CStaticEx::CStaticEx()
    : m_crText(GetSysColor(COLOR_BTNTEXT)), m_crBack(GetSysColor(COLOR_BTNFACE)) {
    const LOGFONTA lf = DefaultGuiFont();
    m_font = CreateFontIndirectA(&lf);
    m_brBack = CreateSolidBrush(m_crBack);
}

CStaticEx::~CStaticEx() {
    OnDestroy();
}

void CStaticEx::MakeBold() {
    m_bBold = TRUE;
    if (m_font != nullptr) {
        DeleteObject(m_font);
        m_font = nullptr;
    }
    LOGFONTA lf = DefaultGuiFont();
    if (m_bBold)
        lf.lfWeight = 600;
    if (m_bItalic)
        lf.lfItalic = 1;
    if (m_nFontHeight != -1)
        lf.lfHeight = m_nFontHeight;
    m_font = CreateFontIndirectA(&lf);
    if (m_hWnd != nullptr)
        SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), 1);
}

HBRUSH CStaticEx::CtlColor(HDC dc) {
    SetTextColor(dc, m_crText);
    SetBkColor(dc, m_crBack);
    return m_brBack;
}

void CStaticEx::OnDestroy() {
    if (m_brBack != nullptr) {
        DeleteObject(m_brBack);
        m_brBack = nullptr;
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
        m_font = nullptr;
    }
}

}  // namespace vantro::win32

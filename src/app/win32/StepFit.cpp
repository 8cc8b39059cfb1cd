#include "app/win32/StepFit.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/win32/FontDc.h"
#include "app/win32/resource.h"

namespace vantro::win32 {

namespace {

struct Child {
    HWND window;
    RECT rect;  // in the dialog's client coordinates
};

std::vector<Child> Children(HWND dialog) {
    std::vector<Child> children;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        children.push_back({w, r});
    }
    return children;
}

bool IsStatic(HWND w, UINT type) {
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    return lstrcmpiA(cls, "Static") == 0 &&
           (static_cast<UINT>(GetWindowLongA(w, GWL_STYLE)) & SS_TYPEMASK) == type;
}

// The text's extent when wrapped as the static control wraps it, width pixels wide.
SIZE Measure(HWND control, const std::wstring& text, int width) {
    const FontDc dc(control);
    RECT r{0, 0, width, 0};
    DrawTextW(dc.Get(), text.c_str(), -1, &r,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    return {r.right - r.left, r.bottom - r.top};
}

// Widens text, then heightens it if need be, without reaching another of children.
void Fit(Child& text, const std::vector<Child>& children, LONG panelRight) {
    std::wstring s(static_cast<std::size_t>(GetWindowTextLengthW(text.window)) + 1, L'\0');
    s.resize(static_cast<std::size_t>(
        GetWindowTextW(text.window, s.data(), static_cast<int>(s.size()))));
    RECT& r = text.rect;
    const SIZE need = Measure(text.window, s, r.right - r.left);
    if (need.cx <= r.right - r.left && need.cy <= r.bottom - r.top)
        return;
    // Wider, up to the panel's edge or the first control beside it.
    LONG right = std::max(panelRight, r.right);
    for (const Child& c : children)
        if (c.window != text.window && c.rect.left >= r.right && c.rect.top < r.bottom &&
            c.rect.bottom > r.top)
            right = std::min(right, c.rect.left);
    r.right = right;
    // Taller too if need be, down to the first control under it (a rule ends each step).
    LONG bottom = r.top + Measure(text.window, s, right - r.left).cy;
    for (const Child& c : children)
        if (c.window != text.window && c.rect.top > r.top && c.rect.left < r.right &&
            c.rect.right > r.left)
            bottom = std::min(bottom, c.rect.top);
    r.bottom = std::max(bottom, r.bottom);
    SetWindowPos(text.window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void FitStepTexts(HWND dialog) {
    std::vector<Child> children = Children(dialog);
    // The step panel ends where the black rules between the steps end.
    RECT client{};
    GetClientRect(dialog, &client);
    LONG panelRight = client.right;
    for (const Child& c : children)
        if (IsStatic(c.window, SS_BLACKRECT))
            panelRight = std::min(panelRight, c.rect.right);
    for (int id = IDC_STEP1; id <= IDC_STEP6; ++id) {
        const HWND item = GetDlgItem(dialog, id);
        const auto caption = std::find_if(children.begin(), children.end(),
                                          [item](const Child& c) { return c.window == item; });
        if (caption == children.end())
            continue;
        // The description: the nearest text to the caption's right, on its line.
        Child* text = nullptr;
        for (Child& c : children)
            if (c.rect.top == caption->rect.top && c.rect.left >= caption->rect.right &&
                IsStatic(c.window, SS_LEFT) && (text == nullptr || c.rect.left < text->rect.left))
                text = &c;
        if (text != nullptr)
            Fit(*text, children, panelRight);
    }
}

}  // namespace vantro::win32

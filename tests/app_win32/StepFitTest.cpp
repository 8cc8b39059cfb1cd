// The steps' descriptions in Tahoma, as MS Shell Dlg gives it: template 102 at 96, 120 and 144
// DPI (each stood for by the point size that gives its pixel font at 96 DPI) shows every one
// whole once FitStepTexts has run, and a text too long for its panel grows only as far as the
// controls around it let it.
#include <gtest/gtest.h>

#include "app/win32/StepFit.h"
// windows.h first
#include <commctrl.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "app/win32/FontDc.h"
#include "app/win32/resource.h"

namespace vantro::win32 {
namespace {

struct Row {
    std::string kind, text;
    int x, y, w, h;
};
// Template 102's controls, in the order the dialog makes them.
const Row kTemplate[] = {
#define TEMPLATE_CONTROL(kind, text, id, x, y, w, h, visible) {#kind, text, x, y, w, h},
#include "assistant/Template102.def"
#undef TEMPLATE_CONTROL
};

struct WindowDeleter {
    void operator()(HWND w) const { DestroyWindow(w); }
};
using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

// The family of the font file the dc's font comes from; GetTextFace would name the face asked
// for, which under Wine is "MS Shell Dlg" whatever stands for it.
std::string Family(HDC dc) {
    std::vector<char> buffer(GetOutlineTextMetricsA(dc, 0, nullptr));
    auto* metrics = reinterpret_cast<OUTLINETEXTMETRICA*>(buffer.data());
    if (buffer.size() < sizeof *metrics ||
        !GetOutlineTextMetricsA(dc, static_cast<UINT>(buffer.size()), metrics))
        return {};
    return buffer.data() + reinterpret_cast<std::size_t>(metrics->otmpFamilyName);
}

INT_PTR CALLBACK FittingProc(HWND dialog, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        FitStepTexts(dialog);
        return TRUE;
    }
    return FALSE;
}

Window Create(const std::vector<WORD>& tmpl) {
    return Window(CreateDialogIndirectParamA(GetModuleHandleW(nullptr),
                                             reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()),
                                             nullptr, &FittingProc, 0));
}

// A copy of DIALOGEX template 102 with its font's point size changed, and hidden.
std::vector<WORD> Template102(WORD points) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_ASSISTANT), RT_DIALOG);
    if (found == nullptr)
        return {};
    const auto* data = static_cast<const WORD*>(LockResource(LoadResource(module, found)));
    std::vector<WORD> copy(data, data + SizeofResource(module, found) / 2);
    std::size_t at = 13;                       // past the fixed header, to the menu
    for (int field = 0; field < 3; ++field) {  // menu, class, title: an ordinal or a string
        if (field < 2 && copy[at] == 0xFFFF) {
            at += 2;
            continue;
        }
        while (copy[at] != 0)
            ++at;
        ++at;
    }
    copy[at] = points;
    copy[7] &= ~HIWORD(WS_VISIBLE);  // measured, not shown
    return copy;
}

// An item template: style, position and size in dialog units, identifier, a static's text or
// a class given by atom (0x80 button, 0x82 static).
struct Item {
    DWORD style;
    short x, y, w, h;
    WORD id, atom;
    std::wstring text;
};

constexpr WORD kNoId = 0xFFFF;  // IDC_STATIC as a template stores it

// A DLGTEMPLATE in Tahoma 8 pt with items, each on a DWORD boundary as the format wants.
std::vector<WORD> Dialog(const std::vector<Item>& items) {
    std::vector<WORD> t;
    const auto add = [&t](std::initializer_list<WORD> words) {
        for (const WORD w : words)
            t.push_back(w);
    };
    const auto text = [&t](const std::wstring& s) {
        for (const wchar_t c : s)
            t.push_back(c);
        t.push_back(0);
    };
    // Style, extended style, item count, position and size, no menu, the dialog class, no
    // title, the font.
    add({LOWORD(WS_POPUP | DS_SETFONT), HIWORD(WS_POPUP | DS_SETFONT), 0, 0,
         static_cast<WORD>(items.size()), 0, 0, 200, 100, 0, 0, 0, 8});
    text(L"Tahoma");
    for (const Item& i : items) {
        if (t.size() % 2 != 0)
            t.push_back(0);
        const DWORD style = i.style | WS_CHILD | WS_VISIBLE;
        add({LOWORD(style), HIWORD(style), 0, 0, WORD(i.x), WORD(i.y), WORD(i.w), WORD(i.h), i.id,
             0xFFFF, i.atom});
        text(i.text);
        t.push_back(0);  // no creation data
    }
    return t;
}

RECT RectIn(HWND dialog, HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Where the dialog put a template row before anything moved it: each of x, y, width and height
// in pixels on its own.
RECT Placed(HWND dialog, const Row& row) {
    RECT r{row.x, row.y, row.w, row.h};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

bool Shows(HWND text) {
    char t[512] = {};
    GetWindowTextA(text, t, sizeof t);
    RECT inside{};
    GetClientRect(text, &inside);
    RECT need{0, 0, inside.right, 0};
    DrawTextA(FontDc(text).Get(), t, -1, &need, DT_CALCRECT | DT_WORDBREAK);
    return need.bottom <= inside.bottom && need.right <= inside.right;
}

TEST(StepFitTest, EveryStepShowsWholeInTahomaAt96To144Dpi) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    for (const int dpi : {96, 120, 144}) {
        SCOPED_TRACE(dpi);
        const std::vector<WORD> tmpl = Template102(static_cast<WORD>(8 * dpi / 96));
        ASSERT_FALSE(tmpl.empty());
        const Window dialog = Create(tmpl);
        ASSERT_NE(dialog, nullptr);
        const HWND d = dialog.get();
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(d, WM_GETFONT, 0, 0)), sizeof lf, &lf);
        EXPECT_EQ(lf.lfHeight, -MulDiv(8, dpi, 72));
        ASSERT_EQ(Family(FontDc(d).Get()), "Tahoma");

        std::vector<HWND> children;
        for (HWND w = GetWindow(d, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
            children.push_back(w);
        ASSERT_EQ(children.size(), std::size(kTemplate));
        RECT client{};
        GetClientRect(d, &client);
        int descriptions = 0;
        for (std::size_t i = 0; i < children.size(); ++i) {
            const Row& row = kTemplate[i];
            const auto onItsLine = [&row](const Row& step) {
                return step.kind == "Step" && step.y == row.y;
            };
            if (row.kind != "Text" ||
                std::none_of(std::begin(kTemplate), std::end(kTemplate), onItsLine))
                continue;
            ++descriptions;
            SCOPED_TRACE(row.text);
            EXPECT_TRUE(Shows(children[i]));
            const RECT r = RectIn(d, children[i]), was = Placed(d, row);
            EXPECT_TRUE(r.left == was.left && r.top == was.top);  // grown, never moved
            EXPECT_TRUE(r.right <= client.right && r.bottom <= client.bottom);
            // Over no other control, but where the template itself has it (rounding at 144 DPI
            // puts step 1's last pixel row on the rule under it).
            for (std::size_t j = 0; j < children.size(); ++j) {
                const RECT o = RectIn(d, children[j]);
                RECT now{}, before{};
                IntersectRect(&now, &r, &o);
                IntersectRect(&before, &was, &o);
                EXPECT_TRUE(j == i || EqualRect(&now, &before))
                    << "over " << kTemplate[j].kind << " " << o.left << "," << o.top;
            }
        }
        EXPECT_EQ(descriptions, 6);
    }
}

TEST(StepFitTest, TooLongForThePanelGrowsUpToTheControlsAround) {
    const std::wstring words =
        L"Remove power, connect it again and turn the Merge switch up and down quickly a few "
        L"times until all the lights are flashing.";
    const Window dialog = Create(Dialog({{SS_LEFT, 0, 0, 20, 8, IDC_STEP1, 0x82, L"Step 1."},
                                         {SS_LEFT, 25, 0, 30, 8, kNoId, 0x82, words},
                                         {BS_PUSHBUTTON, 80, 0, 20, 8, IDOK, 0x80, L"OK"},
                                         {SS_BLACKRECT, 0, 30, 120, 1, kNoId, 0x82, L""},
                                         {SS_LEFT, 0, 35, 20, 8, IDC_STEP2, 0x82, L"Step 2."},
                                         {SS_LEFT, 25, 35, 30, 8, kNoId, 0x82, words},
                                         {SS_BLACKRECT, 0, 65, 120, 1, kNoId, 0x82, L""}}));
    ASSERT_NE(dialog, nullptr);
    const HWND d = dialog.get();
    std::vector<HWND> w;
    std::vector<RECT> r;
    for (HWND c = GetWindow(d, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        w.push_back(c);
        r.push_back(RectIn(d, c));
    }
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[1].right, r[2].left);   // wider only up to the button beside it
    EXPECT_EQ(r[1].bottom, r[3].top);   // and taller down to the rule, the step's end
    EXPECT_EQ(r[5].right, r[6].right);  // with nothing beside it, up to the panel's edge
    EXPECT_EQ(r[5].bottom, r[6].top);
    EXPECT_FALSE(Shows(w[1]));  // still not enough: no other control moves for it
}

}  // namespace
}  // namespace vantro::win32

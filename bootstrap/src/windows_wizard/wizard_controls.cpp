#include "windows_wizard/wizard_controls.hpp"

#include <commctrl.h>

#include <string_view>

#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

struct ControlLayout {
    int id;
    const wchar_t* class_name;
    std::string_view text;
    DWORD style;
    DialogRect rect;
};

// The rectangles of the moving controls are replaced by the page layout at once.
// clang-format off
constexpr ControlLayout controls[] = {
    {wizard_control::title,      L"STATIC",    "",                         0,                               {20, 16, 310, 22}},
    {wizard_control::body,       L"STATIC",    "",                         0,                               {20, 45, 310, 88}},
    {wizard_control::status,     L"STATIC",    "",                         0,                               {20, 163, 310, 25}},
    {wizard_control::progress,   PROGRESS_CLASSW, "",                      PBS_MARQUEE,                     {22, 188, 366, 12}},
    {wizard_control::launch_box, L"BUTTON",    "&Launch Orvanis Launcher", BS_AUTOCHECKBOX | WS_TABSTOP,    {20, 132, 310, 18}},
    {wizard_control::separator,  L"STATIC",    "",                         SS_ETCHEDHORZ,                   {0, 235, 410, 1}},
    {wizard_control::back,       L"BUTTON",    "< &Back",                  WS_TABSTOP,                      {170, 246, 70, 15}},
    {wizard_control::ok,         L"BUTTON",    "&Next >",                  BS_DEFPUSHBUTTON | WS_TABSTOP,   {244, 246, 70, 15}},
    {wizard_control::cancel,     L"BUTTON",    "Cancel",                   WS_TABSTOP,                      {326, 246, 70, 15}},
};
// clang-format on

}  // namespace

RECT dialog_pixels(HWND dialog, const DialogRect& rect) {
    RECT pixels{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    MapDialogRect(dialog, &pixels);
    return pixels;
}

bool create_wizard_controls(HWND dialog) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const auto font =
        reinterpret_cast<WPARAM>(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    for (const ControlLayout& wanted : controls) {
        const RECT pixels = dialog_pixels(dialog, wanted.rect);
        const HWND control = CreateWindowExW(
            0, wanted.class_name, to_wide(wanted.text).c_str(),
            wanted.style | WS_CHILD | WS_VISIBLE, pixels.left, pixels.top,
            pixels.right - pixels.left, pixels.bottom - pixels.top, dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(wanted.id)), instance, nullptr);
        if (control == nullptr)
            return false;
        SendMessageW(control, WM_SETFONT, font, TRUE);
    }
    return true;
}

}  // namespace vantrel

#include "windows_wizard/wizard_window.hpp"

#include <commctrl.h>

#include <string>

#include "windows/wide_text.hpp"
#include "windows_wizard/wizard_controls.hpp"
#include "windows_wizard/wizard_paint.hpp"
#include "windows_wizard/wizard_progress_bar.hpp"
#include "windows_wizard/wizard_worker.hpp"

namespace vantrel {
namespace {

constexpr UINT_PTR progress_timer = 1;
constexpr UINT progress_timer_interval_ms = 75;
constexpr LONG bold_weight = FW_BOLD;
constexpr int failed_to_build = 1;

WizardState* state_of(HWND dialog) {
    return reinterpret_cast<WizardState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

HWND control(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

void set_text(HWND dialog, int id, std::string_view text) {
    SetDlgItemTextW(dialog, id, to_wide(text).c_str());
}

void move_control(HWND dialog, int id, const DialogRect& rect) {
    const RECT pixels = dialog_pixels(dialog, rect);
    MoveWindow(control(dialog, id), pixels.left, pixels.top, pixels.right - pixels.left,
               pixels.bottom - pixels.top, TRUE);
}

void apply_layout(HWND dialog, WizardState& state) {
    const WizardPage page = state.model.page;
    if (state.laid_out_page == page)
        return;
    state.laid_out_page = page;
    const PageLayout layout = page_layout(page);
    move_control(dialog, wizard_control::title, layout.title);
    move_control(dialog, wizard_control::body, layout.body);
    move_control(dialog, wizard_control::status, layout.status);
    move_control(dialog, wizard_control::launch_box, layout.launch_box);
    const GdiObject<HFONT>& font = is_banner_page(page) ? state.large_title_font : state.title_font;
    if (font) {
        SendDlgItemMessageW(dialog, wizard_control::title, WM_SETFONT,
                            reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    InvalidateRect(dialog, nullptr, TRUE);
}

void refresh(HWND dialog, WizardState& state) {
    const WizardModel& model = state.model;
    apply_layout(dialog, state);

    const PageTexts texts = page_texts(model.page, model.launcher_present);
    set_text(dialog, wizard_control::title, texts.title);
    set_text(dialog, wizard_control::body, texts.body);
    set_text(dialog, wizard_control::status, shown_status(model));

    const PageButtons buttons = page_buttons(model.page, model.launch_failed);
    set_text(dialog, wizard_control::ok, buttons.ok);
    set_text(dialog, wizard_control::cancel, buttons.cancel);
    EnableWindow(control(dialog, wizard_control::back), buttons.back_enabled);
    EnableWindow(control(dialog, wizard_control::ok), buttons.ok_and_cancel_enabled);
    EnableWindow(control(dialog, wizard_control::cancel), buttons.ok_and_cancel_enabled);

    const UINT close_state = close_item_enabled(model.page) ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | close_state);
    DrawMenuBar(dialog);

    ShowWindow(control(dialog, wizard_control::launch_box),
               launch_box_shown(model.page) ? SW_SHOW : SW_HIDE);
    ShowWindow(control(dialog, wizard_control::progress),
               progress_bar_shown(model.page) ? SW_SHOW : SW_HIDE);
    apply_progress_mode(control(dialog, wizard_control::progress), model.page, model.percent);

    SendMessageW(dialog, DM_SETDEFID, wizard_control::ok, 0);
}

GdiObject<HFONT> bold_font(const LOGFONTW& base, LONG height) {
    LOGFONTW font = base;
    font.lfWeight = bold_weight;
    font.lfHeight = height;
    return GdiObject<HFONT>(CreateFontIndirectW(&font));
}

void create_fonts(HWND dialog, WizardState& state) {
    const auto dialog_font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW base{};
    if (dialog_font == nullptr || GetObjectW(dialog_font, sizeof base, &base) != sizeof base)
        return;
    state.title_font = bold_font(base, base.lfHeight);
    state.large_title_font = bold_font(base, base.lfHeight * 3 / 2);
}

void set_window_icons(HWND dialog) {
    const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (icon == nullptr)
        return;
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

INT_PTR on_init(HWND dialog, WizardState& state) {
    set_window_icons(dialog);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    create_fonts(dialog, state);
    state.banner_brush = GdiObject<HBRUSH>(CreateSolidBrush(RGB(31, 53, 83)));
    if (!create_wizard_controls(dialog)) {
        EndDialog(dialog, failed_to_build);
        return TRUE;
    }
    CheckDlgButton(dialog, wizard_control::launch_box, BST_CHECKED);
    if (SetTimer(dialog, progress_timer, progress_timer_interval_ms, nullptr) == 0) {
        EndDialog(dialog, failed_to_build);
        return TRUE;
    }
    refresh(dialog, state);
    return TRUE;
}

std::optional<WizardCommand> command_of(int id) {
    switch (id) {
        case wizard_control::ok:
            return WizardCommand::Ok;
        case wizard_control::cancel:
            return WizardCommand::Cancel;
        case wizard_control::back:
            return WizardCommand::Back;
        case wizard_control::launch_box:
            return WizardCommand::LaunchBox;
        default:
            return std::nullopt;
    }
}

void on_command(HWND dialog, WizardState& state, WizardCommand command) {
    const bool checked = IsDlgButtonChecked(dialog, wizard_control::launch_box) == BST_CHECKED;
    const CommandEffect effect = vantrel::on_command(state.model, command, checked, state);
    if (effect.end_code) {
        EndDialog(dialog, *effect.end_code);
        return;
    }
    if (effect.refresh)
        refresh(dialog, state);
    if (effect.focus_ok)
        SetFocus(control(dialog, wizard_control::ok));
}

// Handled messages whose result is not the procedure's return value.
INT_PTR handled(HWND dialog, LRESULT result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR static_colours(const WizardState& state, HDC dc, HWND target) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    const bool white =
        is_banner_page(state.model.page) || GetDlgCtrlID(target) == wizard_control::title;
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(white ? COLOR_WINDOW : COLOR_BTNFACE));
}

void on_destroy(HWND dialog, WizardState& state) {
    KillTimer(dialog, progress_timer);
    state.title_font.reset();
    state.large_title_font.reset();
    state.banner_brush.reset();
    SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
}

}  // namespace

bool WizardState::start_worker(ProgressSender sender) {
    return start_worker_thread(runner, std::move(sender));
}

SentenceStatus WizardState::launch() {
    return launch_installed_launcher();
}

INT_PTR CALLBACK wizard_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG)
        return on_init(dialog, *reinterpret_cast<WizardState*>(lparam));
    WizardState* state = state_of(dialog);
    if (state == nullptr)
        return FALSE;
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) == BN_CLICKED) {
                if (const std::optional<WizardCommand> command = command_of(LOWORD(wparam)))
                    on_command(dialog, *state, *command);
            }
            return TRUE;
        case WM_CLOSE:
            on_command(dialog, *state, WizardCommand::Cancel);
            return TRUE;
        case WM_TIMER:
            if (wparam == progress_timer && drain_progress(state->model))
                refresh(dialog, *state);
            return TRUE;
        case WM_ERASEBKGND:
            paint_wizard(dialog, reinterpret_cast<HDC>(wparam), *state);
            return handled(dialog, TRUE);
        case WM_PAINT: {
            const PaintSession paint(dialog);
            paint_wizard(dialog, paint.dc(), *state);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
            return static_colours(*state, reinterpret_cast<HDC>(wparam),
                                  reinterpret_cast<HWND>(lparam));
        case WM_DESTROY:
            on_destroy(dialog, *state);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace vantrel

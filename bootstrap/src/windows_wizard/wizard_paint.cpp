#include "windows_wizard/wizard_paint.hpp"

#include "windows_wizard/wizard_controls.hpp"

namespace vantrel {
namespace {

constexpr WORD program_icon_id = 1;

int width_of(const RECT& rect) {
    return rect.right - rect.left;
}

int height_of(const RECT& rect) {
    return rect.bottom - rect.top;
}

void draw_banner(HDC dc, const RECT& band, const BannerBitmap& banner) {
    const std::optional<BannerCrop> crop =
        banner_crop(banner.width, banner.height, width_of(band), height_of(band));
    if (!crop)
        return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = banner.width;
    info.bmiHeader.biHeight = -banner.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, band.left, band.top, width_of(band), height_of(band), crop->x, crop->y,
                  crop->width, crop->height, banner.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

void draw_header(HWND dialog, HDC dc) {
    const RECT rule = dialog_pixels(dialog, header_rule);
    FillRect(dc, &rule, GetSysColorBrush(COLOR_BTNSHADOW));
    const RECT icon_rect = dialog_pixels(dialog, header_icon);
    if (const HICON icon = program_icon(width_of(icon_rect), height_of(icon_rect))) {
        DrawIconEx(dc, icon_rect.left, icon_rect.top, icon, width_of(icon_rect),
                   height_of(icon_rect), 0, nullptr, DI_NORMAL);
    }
}

}  // namespace

HICON program_icon(int width, int height) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                         MAKEINTRESOURCEW(program_icon_id), IMAGE_ICON, width,
                                         height, LR_SHARED));
}

void paint_wizard(HWND dialog, HDC dc, const WizardState& state) {
    RECT client{};
    GetClientRect(dialog, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    const WizardPage page = state.model.page;
    const RECT white = dialog_pixels(dialog, white_area(page));
    FillRect(dc, &white, GetSysColorBrush(COLOR_WINDOW));
    if (!is_banner_page(page)) {
        draw_header(dialog, dc);
        return;
    }
    const RECT band = dialog_pixels(dialog, banner_band);
    if (state.banner_brush)
        FillRect(dc, &band, state.banner_brush.get());
    if (state.banner)
        draw_banner(dc, band, *state.banner);
}

}  // namespace vantrel

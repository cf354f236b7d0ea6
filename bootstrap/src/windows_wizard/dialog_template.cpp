#include "windows_wizard/dialog_template.hpp"

#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "lib/product.hpp"
#include "lib/wizard_pages.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

// WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER: no
// minimise or maximise box.
constexpr DWORD wizard_style =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
static_assert(wizard_style == 0x80C808C0);

constexpr WORD font_points = 9;
constexpr std::string_view font_name = "Segoe UI";

class TemplateWriter {
  public:
    void word(WORD value) { words_.push_back(value); }
    void dword(DWORD value) {
        word(LOWORD(value));
        word(HIWORD(value));
    }
    void text(std::string_view utf8) {
        for (const wchar_t unit : to_wide(utf8))
            word(static_cast<WORD>(unit));
        word(0);
    }
    std::vector<std::uint32_t> finish() const {
        std::vector<std::uint32_t> storage((words_.size() + 1) / 2, 0);
        std::memcpy(storage.data(), words_.data(), words_.size() * sizeof(WORD));
        return storage;
    }

  private:
    std::vector<WORD> words_;
};

}  // namespace

std::vector<std::uint32_t> wizard_dialog_template() {
    TemplateWriter writer;
    writer.dword(wizard_style);
    writer.dword(0);  // extended style
    writer.word(0);   // items: the controls are made at initialisation
    writer.word(0);   // x
    writer.word(0);   // y
    writer.word(wizard_width);
    writer.word(wizard_height);
    writer.word(0);  // no menu
    writer.word(0);  // the default dialog class
    writer.text(product_name);
    writer.word(font_points);
    writer.text(font_name);
    return writer.finish();
}

}  // namespace vantrel

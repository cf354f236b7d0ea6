#include "windows_wizard/dialog_template.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vantrel {
namespace {

TEST(WizardDialogTemplateTest, ClassicTemplateWithTitleAndFont) {
    const std::vector<std::uint32_t> storage = wizard_dialog_template();
    const auto* words = reinterpret_cast<const WORD*>(storage.data());
    const auto* dialog = reinterpret_cast<const DLGTEMPLATE*>(storage.data());
    EXPECT_EQ(dialog->style, 0x80C808C0u);
    EXPECT_EQ(dialog->dwExtendedStyle, 0u);
    EXPECT_EQ(dialog->cdit, 0);
    EXPECT_EQ((std::vector<int>{dialog->x, dialog->y, dialog->cx, dialog->cy}),
              (std::vector<int>{0, 0, 410, 268}));
    constexpr std::size_t after_header = 9;  // the header's words
    EXPECT_EQ(words[after_header], 0);       // no menu
    EXPECT_EQ(words[after_header + 1], 0);   // the default class
    const wchar_t* title = reinterpret_cast<const wchar_t*>(words + after_header + 2);
    EXPECT_STREQ(title, L"Orvanis Launcher Setup");
    const WORD* font = words + after_header + 2 + std::wcslen(title) + 1;
    EXPECT_EQ(font[0], 9);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(font + 1), L"Segoe UI");
    const std::size_t used_words = (font + 1 + std::wcslen(L"Segoe UI") + 1) - words;
    EXPECT_EQ(storage.size(), (used_words + 1) / 2);  // zero-padded to a multiple of 4 bytes
}

}  // namespace
}  // namespace vantrel

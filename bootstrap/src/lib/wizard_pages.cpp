#include "lib/wizard_pages.hpp"

#include <array>

namespace vantrel {
namespace {

constexpr std::string_view welcome_title = "Welcome to Orvanis Launcher Setup";
constexpr std::string_view install_body =
    "This wizard will install Orvanis Launcher on your computer.\r\n\r\n"
    "Orvanis Launcher lets you download, update, and play your Orvanis games.\r\n\r\n"
    "Click Next to continue, or Cancel to exit Setup.";
constexpr std::string_view update_body =
    "This wizard will update or repair Orvanis Launcher on your computer.\r\n\r\n"
    "Your installed games, settings, and saved account will be kept.\r\n\r\n"
    "Click Next to continue, or Cancel to exit Setup.";

// Indexed by WizardPage; the welcome body depends on the launcher, see page_texts.
constexpr std::array<PageTexts, wizard_page_count> texts{{
    {welcome_title, install_body},
    {"Ready to install Orvanis Launcher",
     "Setup will install Orvanis Launcher for your Windows account and create desktop and "
     "Start menu shortcuts.\r\n\r\n"
     "Installed games, settings, and your saved account will be kept.\r\n\r\n"
     "Click Install to begin, or Back to review the previous page."},
    {"Installing Orvanis Launcher",
     "Please wait while Setup downloads, verifies, and installs Orvanis Launcher.\r\n\r\n"
     "Setup cannot be closed during installation."},
    {"Setup could not finish",
     "Orvanis Launcher could not be installed.\r\n\r\n"
     "Check the message below, then click Retry to try again or Close to exit Setup."},
    {"Completing Orvanis Launcher Setup",
     "Orvanis Launcher has been installed on your computer.\r\n\r\nClick Finish to close Setup."},
}};

constexpr std::string_view retry_text = "&Retry";

// clang-format off
constexpr std::array<PageButtons, wizard_page_count> buttons{{
    {"&Next >",             "Cancel", false, true},
    {"&Install",            "Cancel", true,  true},
    {"Installing\u2026",    "Cancel", false, false},
    {retry_text,            "Close",  true,  true},
    {"&Finish",             "Close",  false, true},
}};
// clang-format on

constexpr DialogRect launch_box_rect{128, 170, 260, 18};

std::size_t index_of(WizardPage page) {
    return static_cast<std::size_t>(page);
}

}  // namespace

PageTexts page_texts(WizardPage page, bool launcher_present) {
    PageTexts chosen = texts[index_of(page)];
    if (page == WizardPage::Welcome && launcher_present)
        chosen.body = update_body;
    return chosen;
}

PageButtons page_buttons(WizardPage page, bool launch_failed) {
    PageButtons chosen = buttons[index_of(page)];
    if (page == WizardPage::Finished && launch_failed)
        chosen.ok = retry_text;
    return chosen;
}

PageLayout page_layout(WizardPage page) {
    if (!is_banner_page(page))
        return {{16, 11, 338, 19}, {22, 77, 366, 60}, {22, 151, 366, 31}, launch_box_rect};
    const int body_height = page == WizardPage::Welcome ? 119 : 78;
    return {{128, 18, 264, 44}, {128, 74, 260, body_height}, {128, 194, 260, 34}, launch_box_rect};
}

bool is_banner_page(WizardPage page) {
    return page == WizardPage::Welcome || page == WizardPage::Finished;
}

bool close_item_enabled(WizardPage page) {
    return page != WizardPage::Installing;
}

bool launch_box_shown(WizardPage page) {
    return page == WizardPage::Finished;
}

bool progress_bar_shown(WizardPage page) {
    return page == WizardPage::Installing;
}

ProgressMode progress_mode(WizardPage page, std::optional<std::uint32_t> percent) {
    if (page != WizardPage::Installing)
        return ProgressMode::Off;
    return percent ? ProgressMode::Percentage : ProgressMode::Marquee;
}

DialogRect white_area(WizardPage page) {
    return {0, 0, wizard_width, is_banner_page(page) ? 235 : 59};
}

}  // namespace vantrel

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel {

// The wizard's pages in the order the user meets them; the numbers are fixed.
enum class WizardPage : std::uint8_t { Welcome, Ready, Installing, Failed, Finished };

inline constexpr std::size_t wizard_page_count = 5;

// Identifiers of the wizard's controls; OK and Cancel are the dialog's own.
namespace wizard_control {
inline constexpr int ok = 1;
inline constexpr int cancel = 2;
inline constexpr int back = 100;
inline constexpr int title = 101;
inline constexpr int body = 102;
inline constexpr int status = 103;
inline constexpr int progress = 104;
inline constexpr int launch_box = 105;
inline constexpr int separator = 107;
}  // namespace wizard_control

// A rectangle in dialog units.
struct DialogRect {
    int x;
    int y;
    int width;
    int height;

    friend bool operator==(const DialogRect&, const DialogRect&) = default;
};

// The dialog's size in dialog units.
inline constexpr int wizard_width = 410;
inline constexpr int wizard_height = 268;

struct PageTexts {
    std::string_view title;
    std::string_view body;
};

struct PageButtons {
    std::string_view ok;
    std::string_view cancel;
    bool back_enabled;
    bool ok_and_cancel_enabled;
};

// Where the controls that move between pages go.
struct PageLayout {
    DialogRect title;
    DialogRect body;
    DialogRect status;
    DialogRect launch_box;
};

// How the progress bar shows: its number is what the bar stores.
enum class ProgressMode : std::uint8_t { Off, Marquee, Percentage };

PageTexts page_texts(WizardPage page, bool launcher_present);
PageButtons page_buttons(WizardPage page, bool launch_failed);
PageLayout page_layout(WizardPage page);

// Welcome and finished: a white page with the banner on its left and the large title.
bool is_banner_page(WizardPage page);

// The window menu's Close item: grey while setup runs.
bool close_item_enabled(WizardPage page);
bool launch_box_shown(WizardPage page);
bool progress_bar_shown(WizardPage page);
ProgressMode progress_mode(WizardPage page, std::optional<std::uint32_t> percent);

// The white area from the top left: the whole body on banner pages, the header band on others.
DialogRect white_area(WizardPage page);
// The banner band of the banner pages.
inline constexpr DialogRect banner_band{0, 0, 110, 235};
// The rule under the header band and the header icon of the other pages.
inline constexpr DialogRect header_rule{0, 58, 410, 1};
inline constexpr DialogRect header_icon{367, 12, 27, 27};

}  // namespace vantrel

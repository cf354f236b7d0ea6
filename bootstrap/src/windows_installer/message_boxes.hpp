#pragma once

#include <windows.h>

#include <string_view>

namespace vantrel {

// Every message box of the uninstall roles has this caption and no owner window.
inline constexpr std::string_view message_box_caption = "Orvanis Launcher";

// The one way the uninstall roles talk to the user: a message box with a text and
// MB_* flags, answered with the button's ID (IDYES, IDNO, IDOK, ...; 0 when no box
// could be shown). Tests answer it without a window.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual int show(std::string_view text, UINT flags) = 0;
};

// MessageBoxW with no owner, the caption above, the text and the flags as given.
class WindowsMessageBoxes final : public MessageBoxes {
  public:
    int show(std::string_view text, UINT flags) override;
};

}  // namespace vantrel

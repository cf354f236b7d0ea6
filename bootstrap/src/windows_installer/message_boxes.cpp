#include "windows_installer/message_boxes.hpp"

#include "windows/wide_text.hpp"

namespace vantrel {

int WindowsMessageBoxes::show(std::string_view text, UINT flags) {
    const std::wstring wide_text = to_wide(text);
    const std::wstring caption = to_wide(message_box_caption);
    return MessageBoxW(nullptr, wide_text.c_str(), caption.c_str(), flags);
}

}  // namespace vantrel

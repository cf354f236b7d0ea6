#include "lib/error.hpp"

#include <array>

#include "lib/internal_fault.hpp"
#include "lib/quoted_text.hpp"

namespace vantrel {
namespace {

struct StageTexts {
    std::string_view name;
    std::string_view user_message;
};

constexpr std::string_view files_failed_check =
    "The files did not pass our check. Please try again.";

constexpr std::array<StageTexts, stage_count> stage_texts{{
    {"Bootstrap", "We couldn't prepare setup. Please try again."},
    {"Network", "We couldn't get the files. Check your connection and try again."},
    {"Manifest", files_failed_check},
    {"Verification", files_failed_check},
    {"Extraction", "We couldn't open the files. Please try again."},
    {"Installation", "We couldn't install the Launcher. Close it and try again."},
    {"Launch", "We couldn't open the Launcher. Please try again."},
}};

const StageTexts& texts_of(Stage stage) {
    const auto index = static_cast<std::size_t>(stage);
    if (index >= stage_texts.size())
        internal_fault("stage out of range");
    return stage_texts[index];
}

}  // namespace

std::string_view stage_name(Stage stage) {
    return texts_of(stage).name;
}

std::string_view user_message(Stage stage) {
    return texts_of(stage).user_message;
}

Error Error::from_utf8(const Utf8Failure& failure) {
    std::string detail;
    if (failure.invalid_len == 0) {
        detail = "incomplete utf-8 byte sequence from index " + std::to_string(failure.index);
    } else {
        detail = "invalid utf-8 sequence of " + std::to_string(failure.invalid_len) +
                 " bytes from index " + std::to_string(failure.index);
    }
    return Error(Stage::Verification, std::move(detail));
}

std::string Error::display() const {
    std::string out(stage_name(stage_));
    out += " failed: ";
    out += detail_;
    return out;
}

std::string Error::diagnostic() const {
    std::string out = "Error { stage: ";
    out += stage_name(stage_);
    out += ", detail: ";
    out += quoted_text(detail_);
    out += " }";
    return out;
}

}  // namespace vantrel

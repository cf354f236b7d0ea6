#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

// What the system's message lookup gave for an error code: its text, or the
// lookup's own error code when it had none.
struct SystemMessageLookup {
    std::optional<std::u16string> text;
    std::uint32_t lookup_error = 0;
};

// The display text of an operating-system failure: the system's message (trailing
// white space and line breaks removed) and " (os error N)".
std::string compose_system_error_text(std::uint32_t code, const SystemMessageLookup& lookup);

}  // namespace vantrel

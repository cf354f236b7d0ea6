#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "lib/result.hpp"
#include "windows_installer/registry_key.hpp"

namespace vantrel {

inline constexpr std::string_view invalid_registration_message = "Invalid launcher registration.";
inline constexpr std::string_view lone_surrogate_message = "invalid utf-16: lone surrogate found";

// Every string value is read into one buffer of this size; a longer one is a
// system error (ERROR_MORE_DATA).
inline constexpr std::size_t registry_string_buffer_bytes = 65536;

// A REG_SZ value ending in its NUL unit, strictly decoded. NUL units before the
// final one stay part of the text, so that a value padded after a matching prefix
// cannot pass for that prefix. Stage Installation.
Result<std::string> read_registry_string(const RegistryKey& key, std::string_view name);

}  // namespace vantrel

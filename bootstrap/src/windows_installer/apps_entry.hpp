#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lib/result.hpp"
#include "windows_installer/registry_key.hpp"

namespace vantrel {

// The entry in the current user's Apps list, under HKEY_CURRENT_USER.
inline constexpr std::string_view apps_entry_key_path =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvaneLauncher";

inline constexpr std::string_view unexpected_install_folder_message =
    "Unexpected launcher installation folder.";
inline constexpr std::string_view bootstrap_missing_message =
    "The installed launcher bootstrap is missing.";
inline constexpr std::string_view entry_of_another_installation_message =
    "The existing Apps entry belongs to another installation.";
inline constexpr std::string_view registration_missing_message =
    "Launcher registration is missing.";
inline constexpr std::string_view registration_mismatch_message =
    "Launcher registration does not match.";
inline constexpr std::string_view registration_children_message =
    "Unexpected launcher registration children.";

// Writes one value (RegSetValueExW) and gives its result; a test can make one fail.
using RegistryValueWriter = std::function<LSTATUS(HKEY key, const std::wstring& name, DWORD type,
                                                  std::span<const BYTE> data)>;

LSTATUS write_registry_value(HKEY key, const std::wstring& name, DWORD type,
                             std::span<const BYTE> data);

// Creates or refreshes the entry for the product folder, which must be the user's
// own. A key this call created is deleted again when a value write fails.
Status register_apps_entry(const std::wstring& product_folder,
                           const RegistryValueWriter& write = write_registry_value);

// The entry opened with the access mask, or nothing when there is none.
Result<std::optional<RegistryKey>> open_apps_entry(REGSAM access);

// Whether the entry belongs to this product folder: InstallLocation, then
// UninstallString, then Publisher, stopping at the first that differs. A failed
// read is an error.
Result<bool> apps_entry_is_ours(const RegistryKey& entry, const std::wstring& product_folder);

// The entry opened with the access mask, when there is one and it is ours; otherwise
// the registration missing or mismatch message.
Result<RegistryKey> open_own_apps_entry(REGSAM access, const std::wstring& product_folder);

// The entry, open with KEY_READ | DELETE, when it is ours and has no subkeys.
Result<RegistryKey> validate_apps_entry(const std::wstring& product_folder);

// Deletes the entry after validating it.
Status remove_apps_entry(const std::wstring& product_folder);

}  // namespace vantrel

#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The Apps entry's value names.
namespace apps_value {
inline constexpr std::string_view display_name = "DisplayName";
inline constexpr std::string_view publisher = "Publisher";
inline constexpr std::string_view display_version = "DisplayVersion";
inline constexpr std::string_view install_location = "InstallLocation";
inline constexpr std::string_view display_icon = "DisplayIcon";
inline constexpr std::string_view uninstall_string = "UninstallString";
inline constexpr std::string_view modify_path = "ModifyPath";
inline constexpr std::string_view no_modify = "NoModify";
inline constexpr std::string_view no_repair = "NoRepair";
}  // namespace apps_value

// The name the Apps list shows.
inline constexpr std::string_view apps_display_name = "Orvanis Launcher";

// One value as the registry stores it.
struct RegistryValue {
    std::string_view name;
    DWORD type;
    std::vector<BYTE> data;
};

// The entry's values for a product folder, in the order they are written.
std::vector<RegistryValue> apps_entry_values(const std::wstring& product);

// The UninstallString an entry of this product folder has.
std::string expected_uninstall_command(const std::wstring& product);

}  // namespace vantrel

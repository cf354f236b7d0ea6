#include "windows_installer/apps_entry_values.hpp"

#include "lib/product.hpp"
#include "lib/role_options.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

// UTF-16LE with its terminating NUL, which the byte count includes.
RegistryValue string_value(std::string_view name, std::string_view text) {
    const std::wstring wide = to_wide(text);
    const auto* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
    return {name, REG_SZ, std::vector<BYTE>(bytes, bytes + (wide.size() + 1) * sizeof(wchar_t))};
}

RegistryValue zero_dword_value(std::string_view name) {
    return {name, REG_DWORD, std::vector<BYTE>(sizeof(DWORD), 0)};
}

// Paths become registry text lossily: an unpaired surrogate turns into U+FFFD.
std::string quoted_bootstrap(const std::wstring& product) {
    return '"' + path_text(join_path(product, layout::bootstrap_file_name)) + '"';
}

std::string bootstrap_command(const std::wstring& product, std::string_view option) {
    return quoted_bootstrap(product) + ' ' + std::string(option);
}

}  // namespace

std::string expected_uninstall_command(const std::wstring& product) {
    return bootstrap_command(product, uninstall_option);
}

std::vector<RegistryValue> apps_entry_values(const std::wstring& product) {
    std::vector<RegistryValue> values;
    values.push_back(string_value(apps_value::display_name, apps_display_name));
    values.push_back(string_value(apps_value::publisher, company_name));
    values.push_back(string_value(apps_value::display_version, product_version));
    values.push_back(string_value(apps_value::install_location, path_text(product)));
    values.push_back(string_value(apps_value::display_icon, quoted_bootstrap(product) + ",0"));
    values.push_back(
        string_value(apps_value::uninstall_string, expected_uninstall_command(product)));
    values.push_back(
        string_value(apps_value::modify_path, bootstrap_command(product, repair_option)));
    values.push_back(zero_dword_value(apps_value::no_modify));
    values.push_back(zero_dword_value(apps_value::no_repair));
    return values;
}

}  // namespace vantrel

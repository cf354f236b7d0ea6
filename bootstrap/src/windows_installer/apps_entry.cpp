#include "windows_installer/apps_entry.hpp"

#include <cstdint>

#include "lib/product.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/apps_entry_values.hpp"
#include "windows_installer/registry_string.hpp"

namespace vantrel {
namespace {

Error registry_failure(LSTATUS status) {
    return Error::from_io(Stage::Installation, os_error(static_cast<std::uint32_t>(status)));
}

Error failure(std::string_view message) {
    return Error::from_text(Stage::Installation, message);
}

std::wstring key_path() {
    return to_wide(apps_entry_key_path);
}

// The refusals that come before the registry is touched.
Status check_installed_bootstrap(const std::wstring& product) {
    const Result<std::wstring> expected = product_folder();
    if (!expected)
        return expected.error();
    if (!same_path(product, *expected))
        return failure(unexpected_install_folder_message);
    const std::wstring bootstrap = join_path(product, layout::bootstrap_file_name);
    if (Status safe = ensure_no_links({product, bootstrap}); !safe)
        return safe;
    if (!is_existing_file(bootstrap))
        return failure(bootstrap_missing_message);
    return {};
}

// An entry that is there must be ours before it is rewritten.
Status check_existing_entry(const std::wstring& product) {
    const Result<std::optional<RegistryKey>> existing = open_apps_entry(KEY_READ);
    if (!existing)
        return existing.error();
    if (!existing->has_value())
        return {};
    const Result<bool> ours = apps_entry_is_ours(**existing, product);
    if (!ours)
        return ours.error();
    if (!*ours)
        return failure(entry_of_another_installation_message);
    return {};
}

// The values in order; the first failing write stops the others.
LSTATUS write_values(const RegistryKey& key, const std::wstring& product,
                     const RegistryValueWriter& write) {
    for (const RegistryValue& value : apps_entry_values(product)) {
        const LSTATUS status = write(key.get(), to_wide(value.name), value.type, value.data);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS write_registry_value(HKEY key, const std::wstring& name, DWORD type,
                             std::span<const BYTE> data) {
    return RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

Status register_apps_entry(const std::wstring& product_folder, const RegistryValueWriter& write) {
    if (Status checked = check_installed_bootstrap(product_folder); !checked)
        return checked;
    if (Status checked = check_existing_entry(product_folder); !checked)
        return checked;

    HKEY created = nullptr;
    DWORD disposition = 0;
    const LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, key_path().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &created, &disposition);
    if (status != ERROR_SUCCESS)
        return registry_failure(status);
    RegistryKey key(created);
    const LSTATUS written = write_values(key, product_folder, write);
    key.reset();
    if (written == ERROR_SUCCESS)
        return {};
    // Only a key this call made is taken back; an earlier entry keeps what was written.
    if (disposition == REG_CREATED_NEW_KEY)
        RegDeleteKeyW(HKEY_CURRENT_USER, key_path().c_str());
    return registry_failure(written);
}

Result<std::optional<RegistryKey>> open_apps_entry(REGSAM access) {
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, key_path().c_str(), 0, access, &opened);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::optional<RegistryKey>();
    if (status != ERROR_SUCCESS)
        return registry_failure(status);
    return std::optional<RegistryKey>(RegistryKey(opened));
}

Result<bool> apps_entry_is_ours(const RegistryKey& entry, const std::wstring& product_folder) {
    const Result<std::string> location = read_registry_string(entry, apps_value::install_location);
    if (!location)
        return location.error();
    if (!same_path(to_wide(*location), product_folder))
        return false;
    const Result<std::string> uninstall = read_registry_string(entry, apps_value::uninstall_string);
    if (!uninstall)
        return uninstall.error();
    if (*uninstall != expected_uninstall_command(product_folder))
        return false;
    const Result<std::string> publisher = read_registry_string(entry, apps_value::publisher);
    if (!publisher)
        return publisher.error();
    return *publisher == company_name;
}

Result<RegistryKey> open_own_apps_entry(REGSAM access, const std::wstring& product_folder) {
    Result<std::optional<RegistryKey>> opened = open_apps_entry(access);
    if (!opened)
        return std::move(opened).error();
    if (!opened->has_value())
        return failure(registration_missing_message);
    RegistryKey entry = std::move(**opened);
    const Result<bool> ours = apps_entry_is_ours(entry, product_folder);
    if (!ours)
        return ours.error();
    if (!*ours)
        return failure(registration_mismatch_message);
    return entry;
}

Result<RegistryKey> validate_apps_entry(const std::wstring& product_folder) {
    Result<RegistryKey> entry = open_own_apps_entry(KEY_READ | DELETE, product_folder);
    if (!entry)
        return entry;
    DWORD subkeys = 0;
    const LSTATUS status =
        RegQueryInfoKeyW(entry->get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return registry_failure(status);
    if (subkeys != 0)
        return failure(registration_children_message);
    return entry;
}

Status remove_apps_entry(const std::wstring& product_folder) {
    // The validated key is closed at the end of the if statement, before the delete.
    if (Result<RegistryKey> validated = validate_apps_entry(product_folder); !validated)
        return std::move(validated).error();
    const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, key_path().c_str());
    if (status != ERROR_SUCCESS)
        return registry_failure(status);
    return {};
}

}  // namespace vantrel

#include "windows/shortcuts.hpp"

#include <windows.h>

#include <shlobj.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include "lib/install_names.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/setup_locks.hpp"
#include "windows/system_error.hpp"
#include "windows/unique_handle.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {
namespace {

// The older names one by one: the steps below treat them in different orders.
constexpr std::wstring_view older_vantrel_name = layout::older_shortcut_names[0];
constexpr std::wstring_view older_orvane_name = layout::older_shortcut_names[1];

std::wstring bootstrap_path(const std::wstring& product) {
    return join_path(product, layout::bootstrap_file_name);
}

std::wstring launcher_folder_of(const std::wstring& product) {
    return join_path(product, layout::launcher_folder_name);
}

std::wstring launcher_executable_path(const std::wstring& product) {
    return join_path(launcher_folder_of(product), to_wide(launcher_file_name));
}

// Points the folder's "Orvanis Launcher.lnk" at target unless it already matches:
// the link is saved to a temporary file in the folder and only a finished one is
// moved over the shortcut. The temporary file is gone afterwards on every path.
Status point_shortcut(const std::wstring& folder, const std::wstring& target, Stage file_stage,
                      const ShellLinkFactory& factory) {
    if (auto created = create_folder_tree(folder); !created)
        return Error::from_io(file_stage, created.error());
    auto temp = create_temp_shortcut(folder);
    if (!temp)
        return Error::from_io(file_stage, temp.error());
    const std::wstring shortcut = join_path(folder, layout::shortcut_name);
    auto written = write_shortcut(target, shortcut, temp->path(), false, factory);
    if (!written)
        return std::move(written).error();
    if (*written) {
        if (auto moved = move_replacing(temp->path(), shortcut); !moved)
            return Error::from_io(file_stage, moved.error());
        temp->mark_moved();
    }
    return {};
}

Status remove_if_own(const std::wstring& product, const std::wstring& shortcut, Stage file_stage,
                     const ShellLinkFactory& factory) {
    auto own = is_own_shortcut(product, shortcut, factory);
    if (!own)
        return std::move(own).error();
    if (*own && !DeleteFileW(shortcut.c_str()))
        return Error::from_io(file_stage, last_os_error());
    return {};
}

}  // namespace

std::wstring shortcut_working_folder(const std::wstring& target) {
    return parent_path(target).value_or(target);
}

bool link_matches(const ShellLinkProperties& link, const std::wstring& target,
                  const SameTarget& same_target) {
    return same_target(link.target, target) &&
           same_path(link.working_folder, shortcut_working_folder(target)) &&
           link.arguments.empty() && same_target(link.icon_path, target) && link.icon_index == 0;
}

bool link_is_own(const ShellLinkProperties& link, const std::wstring& product_folder,
                 const SameTarget& same_target) {
    return link_matches(link, bootstrap_path(product_folder), same_target) ||
           link_matches(link, launcher_executable_path(product_folder), same_target);
}

Result<bool> write_shortcut(const std::wstring& target, const std::wstring& compare_path,
                            const std::wstring& save_path, bool force,
                            const ShellLinkFactory& factory) {
    if (!force) {
        auto matches = shortcut_matches(target, compare_path, factory);
        if (!matches)
            return std::move(matches).error();
        if (*matches)
            return false;
    }
    if (auto saved = save_shell_link(target, shortcut_working_folder(target), save_path, factory);
        !saved) {
        return std::move(saved).error();
    }
    return true;
}

Result<bool> shortcut_matches(const std::wstring& target, const std::wstring& shortcut,
                              const ShellLinkFactory& factory) {
    auto link = read_shell_link(shortcut, factory);
    if (!link)
        return std::move(link).error();
    return link->has_value() && link_matches(**link, target, same_file_or_missing);
}

Result<bool> is_own_shortcut(const std::wstring& product_folder, const std::wstring& shortcut,
                             const ShellLinkFactory& factory) {
    auto link = read_shell_link(shortcut, factory);
    if (!link)
        return std::move(link).error();
    return link->has_value() && link_is_own(**link, product_folder, same_file_or_missing);
}

IoResult<TempFile> create_temp_shortcut(const std::wstring& folder, NameSource& names) {
    // Not marked temporary: once moved, this file is the shortcut.
    IoResult<TempFile> temp =
        create_named_temp_file(folder, layout::temp_shortcut_prefix, layout::temp_shortcut_suffix,
                               FILE_ATTRIBUTE_NORMAL, names);
    if (temp)
        temp->close();
    return temp;
}

Status update_setup_shortcut(const std::wstring& product_folder, const std::wstring& desktop,
                             const std::wstring& programs, const ShellLinkFactory& factory) {
    const std::wstring desktop_setup_shortcut = join_path(desktop, older_vantrel_name);
    if (auto safe = ensure_no_links(
            {product_folder, desktop_setup_shortcut, join_path(programs, layout::shortcut_name)});
        !safe) {
        return safe;
    }
    if (auto pointed =
            point_shortcut(programs, bootstrap_path(product_folder), Stage::Bootstrap, factory);
        !pointed) {
        return pointed;
    }
    return remove_if_own(product_folder, desktop_setup_shortcut, Stage::Bootstrap, factory);
}

Status refresh_launcher_shortcuts(const ShortcutFolders& folders, const ShellLinkFactory& factory) {
    const std::wstring bootstrap = bootstrap_path(folders.product);
    const std::wstring launcher_folder = launcher_folder_of(folders.product);
    const std::wstring launcher = launcher_executable_path(folders.product);
    if (auto safe = ensure_no_links({
            bootstrap,
            launcher,
            join_path(folders.product, layout::bootstrap_lock_name),
            join_path(launcher_folder, layout::launcher_lock_name),
            join_path(folders.desktop, layout::shortcut_name),
            join_path(folders.desktop, older_vantrel_name),
            join_path(folders.desktop, older_orvane_name),
            join_path(folders.programs, layout::shortcut_name),
            join_path(folders.programs, older_orvane_name),
            join_path(folders.programs, older_vantrel_name),
        });
        !safe) {
        return safe;
    }
    if (!is_existing_file(launcher) || !is_existing_file(bootstrap))
        return Error::from_text(Stage::Installation, shortcut_targets_missing_message);

    // Held until the end, in the setups' lock order.
    const auto bootstrap_lock =
        acquire_lock(folders.product, layout::bootstrap_lock_name, Stage::Installation);
    if (!bootstrap_lock)
        return bootstrap_lock.error();
    const auto launcher_lock =
        acquire_lock(launcher_folder, layout::launcher_lock_name, Stage::Installation);
    if (!launcher_lock)
        return launcher_lock.error();

    for (const std::wstring& folder : {folders.desktop, folders.programs}) {
        if (auto pointed = point_shortcut(folder, launcher, Stage::Installation, factory); !pointed)
            return pointed;
        for (const std::wstring_view name : {older_orvane_name, older_vantrel_name}) {
            if (auto removed = remove_if_own(folders.product, join_path(folder, name),
                                             Stage::Installation, factory);
                !removed) {
                return removed;
            }
        }
    }
    return {};
}

Result<ShortcutFolders> user_shortcut_folders() {
    auto product = product_folder();
    if (!product)
        return std::move(product).error();
    auto desktop = known_folder(FOLDERID_Desktop, layout::desktop_display_name);
    if (!desktop)
        return std::move(desktop).error();
    auto programs = known_folder(FOLDERID_Programs, layout::programs_display_name);
    if (!programs)
        return std::move(programs).error();
    return ShortcutFolders{std::move(*product), std::move(*desktop), std::move(*programs)};
}

Status refresh_launcher_shortcuts() {
    auto folders = user_shortcut_folders();
    if (!folders)
        return std::move(folders).error();
    return refresh_launcher_shortcuts(*folders);
}

}  // namespace vantrel

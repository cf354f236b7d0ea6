#include "windows_installer/uninstall_worker.hpp"

#include <optional>
#include <string>
#include <vector>

#include "lib/install_names.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/setup_locks.hpp"
#include "windows/shortcuts.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/apps_entry.hpp"

namespace vantrel {
namespace {

// Step 4: OrvaneUninstall.exe in an "orvane-uninstall-" folder of the temporary folder.
Result<bool> in_worker_location(const std::wstring& program, const std::wstring& folder,
                                const UninstallSystem& system) {
    const std::optional<std::wstring> name = file_name(program);
    const std::optional<std::wstring> folder_name = file_name(folder);
    const std::optional<std::wstring> container = parent_path(folder);
    if (!name || *name != layout::uninstall_copy_name || !folder_name ||
        !folder_name->starts_with(layout::uninstall_folder_prefix) || !container) {
        return false;
    }
    const IoResult<std::wstring> temp = system.temporary_folder();
    if (!temp)
        return uninstall_error(temp.error());
    return same_path(*container, *temp);
}

// Steps 6 and 9: the worker's digest and the installed bootstrap's.
Result<bool> same_digests(const std::wstring& program, const std::wstring& bootstrap) {
    const IoResult<Sha256Digest> own = file_sha256(program);
    if (!own)
        return uninstall_error(own.error());
    const IoResult<Sha256Digest> installed = file_sha256(bootstrap);
    if (!installed)
        return uninstall_error(installed.error());
    return *own == *installed;
}

// Steps 1 to 23 without the box. The locks and handles are released, in the order
// of step 23, on every path before the caller shows its box.
Status remove_product(const UninstallSystem& system) {
    // Checks on the worker itself.
    system.before_step(1);
    const Result<std::wstring> product = product_folder();
    if (!product)
        return product.error();
    const std::wstring launcher_folder = join_path(*product, layout::launcher_folder_name);
    if (Status safe = ensure_no_links({*product, launcher_folder}); !safe)
        return safe;

    system.before_step(2);
    const IoResult<std::wstring> program = system.running_executable();
    if (!program)
        return uninstall_error(program.error());
    if (Status safe = ensure_no_links(*program); !safe)
        return safe;

    system.before_step(3);
    const std::optional<std::wstring> folder = parent_path(*program);
    if (!folder)
        return uninstall_error(invalid_worker_folder_message);

    system.before_step(4);
    const Result<bool> located = in_worker_location(*program, *folder, system);
    if (!located)
        return located.error();
    if (!*located)
        return uninstall_error(invalid_worker_location_message);

    system.before_step(5);
    const std::wstring bootstrap = join_path(*product, layout::bootstrap_file_name);
    const IoResult<bool> same = same_file(*program, bootstrap);
    if (!same)
        return uninstall_error(same.error());
    if (*same)
        return uninstall_error(invalid_worker_message);

    system.before_step(6);
    if (const Result<bool> copy = same_digests(*program, bootstrap); !copy || !*copy)
        return copy ? uninstall_error(invalid_worker_message) : copy.error();

    system.before_step(7);
    if (const Result<RegistryKey> entry = open_own_apps_entry(KEY_READ, *product); !entry)
        return entry.error();

    // Locks.
    system.before_step(8);
    const std::wstring bootstrap_lock = join_path(*product, layout::bootstrap_lock_name);
    if (Status safe = ensure_no_links(bootstrap_lock); !safe)
        return safe;
    Result<SetupLock> held_bootstrap_lock =
        acquire_lock(*product, layout::bootstrap_lock_name, Stage::Installation);
    if (!held_bootstrap_lock)
        return held_bootstrap_lock.error();

    system.before_step(9);
    if (const Result<bool> copy = same_digests(*program, bootstrap); !copy || !*copy)
        return copy ? uninstall_error(bootstrap_changed_message) : copy.error();

    system.before_step(10);
    const std::wstring launcher_lock = join_path(launcher_folder, layout::launcher_lock_name);
    if (Status safe = ensure_no_links({bootstrap_lock, launcher_lock}); !safe)
        return safe;

    system.before_step(11);
    std::optional<SetupLock> held_launcher_lock;
    const IoResult<bool> has_launcher_folder = folder_exists(launcher_folder);
    if (!has_launcher_folder)
        return uninstall_error(has_launcher_folder.error());
    if (*has_launcher_folder) {
        Result<SetupLock> lock =
            acquire_lock(launcher_folder, layout::launcher_lock_name, Stage::Installation);
        if (!lock)
            return std::move(lock).error();
        held_launcher_lock.emplace(std::move(lock).value());
    }

    // Collecting shortcuts.
    system.before_step(12);
    const Result<std::wstring> desktop = system.desktop_folder();
    if (!desktop)
        return desktop.error();
    const Result<std::wstring> programs = system.programs_folder();
    if (!programs)
        return programs.error();

    system.before_step(13);
    std::vector<std::wstring> own_shortcuts;
    for (const std::wstring* shortcut_folder : {&*desktop, &*programs}) {
        for (const std::wstring_view name : uninstall_shortcut_names) {
            std::wstring shortcut = join_path(*shortcut_folder, name);
            if (Status safe = ensure_no_links(shortcut); !safe)
                return safe;
            const Result<bool> own = is_own_shortcut(*product, shortcut);
            if (!own)
                return own.error();
            if (*own)
                own_shortcuts.push_back(std::move(shortcut));
        }
    }

    // Waiting for the installed bootstrap: the request that started this worker may
    // still run from it.
    system.before_step(14);
    const UninstallSystem::Clock::time_point deadline = system.now() + bootstrap_wait_deadline;
    system.before_step(15);
    UniqueHandle bootstrap_handle;
    for (;;) {
        Result<std::optional<UniqueHandle>> opened = open_exclusive(bootstrap);
        if (opened && opened->has_value()) {
            bootstrap_handle = std::move(**opened);
            break;
        }
        if (system.now() >= deadline)
            return uninstall_error(bootstrap_in_use_message);
        system.pause(bootstrap_wait_pause);
    }

    system.before_step(16);
    const std::wstring launcher = join_path(launcher_folder, to_wide(launcher_file_name));
    Result<std::optional<UniqueHandle>> launcher_handle = open_exclusive(launcher);
    if (!launcher_handle)
        return launcher_handle.error();

    // Removal.
    system.before_step(17);
    const std::wstring cache = join_path(launcher_folder, layout::verified_cache_name);
    if (Status safe = ensure_no_links({launcher, cache, bootstrap}); !safe)
        return safe;

    system.before_step(18);
    if (Result<RegistryKey> entry = validate_apps_entry(*product); !entry)
        return std::move(entry).error();

    system.before_step(19);
    for (const std::wstring& shortcut : own_shortcuts) {
        if (Status removed = system.remove_file(shortcut); !removed)
            return removed;
    }

    system.before_step(20);
    for (const std::wstring* file : {&launcher, &cache}) {
        if (Status removed = system.remove_file(*file); !removed)
            return removed;
    }

    system.before_step(21);
    if (Status removed = system.remove_entry(*product); !removed)
        return removed;

    system.before_step(22);
    if (Status removed = system.remove_file(bootstrap); !removed)
        return removed;

    system.before_step(23);
    launcher_handle->reset();
    bootstrap_handle.reset();
    held_launcher_lock.reset();
    return {};
}

}  // namespace

UninstallOutcome perform_uninstall(MessageBoxes& boxes, const UninstallSystem& system) {
    Status removed = remove_product(system);
    if (removed) {
        boxes.show(uninstall_success_text, uninstall_success_flags);
        return {};
    }
    return uninstall_failure(boxes, uninstall_finish_failure_text, uninstall_finish_failure_flags,
                             std::move(removed).error());
}

int run_uninstall_worker() {
    WindowsMessageBoxes boxes;
    return perform_uninstall(boxes, real_uninstall_system()).exit_code;
}

}  // namespace vantrel

#include "windows_installer/uninstall_request.hpp"

#include <optional>
#include <string>

#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_safety.hpp"
#include "windows/temp_files.hpp"
#include "windows_installer/apps_entry.hpp"

namespace vantrel {
namespace {

Error installation(std::string_view detail) {
    return Error::from_text(Stage::Installation, detail);
}

Error installation(const IoError& failure) {
    return Error::from_io(Stage::Installation, failure);
}

// Steps 2 to 12. The Apps entry's key stays open to the end; the worker folder is
// removed with its content on every failure, before the caller shows its box.
Status start_worker(const UninstallSystem& system) {
    system.before_step(2);
    const Result<std::wstring> product = product_folder();
    if (!product)
        return product.error();
    const std::wstring bootstrap = join_path(*product, layout::bootstrap_file_name);

    system.before_step(3);
    for (const std::wstring& path : {*product, bootstrap}) {
        if (Status safe = ensure_no_links(path); !safe)
            return safe;
    }

    system.before_step(4);
    const IoResult<std::wstring> program = system.running_executable();
    if (!program)
        return installation(program.error());

    system.before_step(5);
    const IoResult<bool> same = same_file(bootstrap, *program);
    if (!same)
        return installation(same.error());
    if (!*same)
        return installation(not_installed_copy_message);

    system.before_step(6);
    Result<std::optional<RegistryKey>> entry = open_apps_entry(KEY_READ);
    if (!entry)
        return std::move(entry).error();
    if (!entry->has_value())
        return installation(registration_missing_message);

    system.before_step(7);
    const Result<bool> ours = apps_entry_is_ours(**entry, *product);
    if (!ours)
        return ours.error();
    if (!*ours)
        return installation(registration_mismatch_message);

    system.before_step(8);
    const IoResult<std::wstring> temp = system.temporary_folder();
    if (!temp)
        return installation(temp.error());
    IoResult<TempFolder> folder = create_temp_folder(*temp, layout::uninstall_folder_prefix);
    if (!folder)
        return installation(folder.error());

    system.before_step(9);
    if (Status safe = ensure_no_links(folder->path()); !safe)
        return safe;

    system.before_step(10);
    const std::wstring worker = join_path(folder->path(), layout::uninstall_copy_name);
    if (IoStatus copied = copy_to_new_file(*program, worker); !copied)
        return installation(copied.error());

    system.before_step(11);
    if (IoStatus started = system.start_worker(worker); !started)
        return installation(started.error());

    // Step 12: the worker runs from the folder, which stays; the key closes on return.
    system.before_step(12);
    folder->keep();
    return {};
}

}  // namespace

UninstallOutcome uninstall_failure(MessageBoxes& boxes, std::string_view text, UINT flags,
                                   Error error) {
    boxes.show(text, flags);
    return {1, std::move(error)};
}

UninstallOutcome request_uninstall(MessageBoxes& boxes, const UninstallSystem& system) {
    system.before_step(1);
    if (boxes.show(uninstall_confirmation_text, uninstall_confirmation_flags) != IDYES)
        return {};
    Status started = start_worker(system);
    if (started)
        return {};
    return uninstall_failure(boxes, uninstall_start_failure_text, uninstall_start_failure_flags,
                             std::move(started).error());
}

int run_uninstall_request() {
    WindowsMessageBoxes boxes;
    return request_uninstall(boxes, real_uninstall_system()).exit_code;
}

}  // namespace vantrel

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

// Steps 2 to 12. The Apps entry's key stays open to the end; the worker folder is
// removed with its content on every failure, before the caller shows its box.
Status start_worker(const UninstallSystem& system) {
    system.before_step(2);
    const Result<std::wstring> product = product_folder();
    if (!product)
        return product.error();
    const std::wstring bootstrap = join_path(*product, layout::bootstrap_file_name);

    system.before_step(3);
    if (Status safe = ensure_no_links({*product, bootstrap}); !safe)
        return safe;

    system.before_step(4);
    const IoResult<std::wstring> program = system.running_executable();
    if (!program)
        return uninstall_error(program.error());

    system.before_step(5);
    const IoResult<bool> same = same_file(bootstrap, *program);
    if (!same)
        return uninstall_error(same.error());
    if (!*same)
        return uninstall_error(not_installed_copy_message);

    // Steps 6 and 7 as one: the entry is opened and found to be ours.
    system.before_step(6);
    const Result<RegistryKey> entry = open_own_apps_entry(KEY_READ, *product);
    if (!entry)
        return entry.error();

    system.before_step(8);
    const IoResult<std::wstring> temp = system.temporary_folder();
    if (!temp)
        return uninstall_error(temp.error());
    IoResult<TempFolder> folder = create_temp_folder(*temp, layout::uninstall_folder_prefix);
    if (!folder)
        return uninstall_error(folder.error());

    system.before_step(9);
    if (Status safe = ensure_no_links(folder->path()); !safe)
        return safe;

    system.before_step(10);
    const std::wstring worker = join_path(folder->path(), layout::uninstall_copy_name);
    if (IoStatus copied = copy_to_new_file(*program, worker); !copied)
        return uninstall_error(copied.error());

    system.before_step(11);
    if (IoStatus started = system.start_worker(worker); !started)
        return uninstall_error(started.error());

    // Step 12: the worker runs from the folder, which stays; the key closes on return.
    system.before_step(12);
    folder->keep();
    return {};
}

}  // namespace

Error uninstall_error(std::string_view detail) {
    return Error::from_text(Stage::Installation, detail);
}

Error uninstall_error(const IoError& failure) {
    return Error::from_io(Stage::Installation, failure);
}

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

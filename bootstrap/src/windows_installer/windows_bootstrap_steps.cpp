#include "windows_installer/windows_bootstrap_steps.hpp"

#include <windows.h>

#include <string_view>
#include <vector>

#include "lib/install_names.hpp"
#include "lib/role_options.hpp"
#include "process/child_process.hpp"
#include "windows/file_services.hpp"
#include "windows/install_layout.hpp"
#include "windows/module_path.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/wide_text.hpp"
#include "windows_installer/apps_entry.hpp"

namespace vantrel {
namespace {

constexpr std::size_t copy_block_size = 8192;

// The full path with links resolved, so that two spellings of one file compare equal.
std::optional<std::wstring> canonical_path(const std::wstring& path) {
    auto file = open_for_reading(path);
    if (!file)
        return std::nullopt;
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(file->get(), buffer.data(),
                                                       DWORD(buffer.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);
    }
}

// A standard handle the child can inherit: a missing one becomes the null device.
HANDLE standard_handle_or(DWORD which, const UniqueHandle& null_device) {
    const HANDLE handle = GetStdHandle(which);
    return handle == nullptr || handle == INVALID_HANDLE_VALUE ? null_device.get() : handle;
}

// The temporary desktop shortcut of the run whose recovery folder has this name.
std::wstring temp_shortcut_name(const std::wstring& recovery_name) {
    const bool usable_name = !recovery_name.empty() && from_wide(recovery_name).has_value();
    return std::wstring(layout::temp_desktop_shortcut_prefix) +
           (usable_name ? recovery_name : std::wstring(layout::temp_desktop_shortcut_fallback)) +
           std::wstring(layout::temp_shortcut_suffix);
}

// Whether temp_shortcut_name could have given this name.
bool is_temp_shortcut_name(std::wstring_view name) {
    const std::wstring_view prefix = layout::temp_desktop_shortcut_prefix;
    const std::wstring_view suffix = layout::temp_shortcut_suffix;
    if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return false;
    }
    const std::wstring_view middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return middle == layout::temp_desktop_shortcut_fallback ||
           is_temp_name(middle, layout::bootstrap_setup_prefix);
}

}  // namespace

IoStatus WindowsBootstrapSteps::find_program() {
    if (given_) {
        places_.program = given_->program;
        return {};
    }
    auto program = current_module_path();
    if (!program)
        return std::move(program).error();
    places_.program = std::move(program).value();
    return {};
}

Status WindowsBootstrapSteps::find_paths() {
    if (given_) {
        places_.folders = given_->folders;
    } else {
        auto folders = user_shortcut_folders();
        if (!folders)
            return std::move(folders).error();
        places_.folders = std::move(folders).value();
    }
    bootstrap_ = join_path(places_.folders.product, layout::bootstrap_file_name);
    desktop_shortcut_ = join_path(places_.folders.desktop, layout::shortcut_name);
    return {};
}

Status WindowsBootstrapSteps::check_paths() {
    const ShortcutFolders& folders = places_.folders;
    const std::wstring launcher_folder = join_path(folders.product, layout::launcher_folder_name);
    return ensure_no_links(
        {
            bootstrap_,
            launcher_folder,
            join_path(launcher_folder, to_wide(launcher_file_name)),
            join_path(launcher_folder, layout::launcher_lock_name),
            join_path(launcher_folder, layout::verified_cache_name),
            join_path(folders.product, layout::bootstrap_lock_name),
            desktop_shortcut_,
            join_path(folders.desktop, layout::older_shortcut_names[0]),
            join_path(folders.desktop, layout::older_shortcut_names[1]),
            join_path(folders.programs, layout::shortcut_name),
            join_path(folders.programs, layout::older_shortcut_names[1]),
        },
        link_query_);
}

IoStatus WindowsBootstrapSteps::create_folders() {
    if (auto created = create_folder_tree(places_.folders.product); !created)
        return created;
    return create_folder_tree(places_.folders.desktop);
}

Status WindowsBootstrapSteps::take_lock() {
    auto lock =
        acquire_lock(places_.folders.product, layout::bootstrap_lock_name, Stage::Bootstrap);
    if (!lock)
        return std::move(lock).error();
    lock_.emplace(std::move(lock).value());
    return {};
}

void WindowsBootstrapSteps::release_lock() {
    lock_.reset();
}

bool WindowsBootstrapSteps::running_installed_copy() {
    if (IoResult<bool> same = same_file(places_.program, bootstrap_); same && *same)
        return true;
    const std::optional<std::wstring> program = canonical_path(places_.program);
    const std::optional<std::wstring> installed = canonical_path(bootstrap_);
    return program && installed && same_path(*program, *installed);
}

IoStatus WindowsBootstrapSteps::create_recovery_folder() {
    auto folder = create_temp_folder(places_.folders.product, layout::bootstrap_setup_prefix);
    if (!folder)
        return std::move(folder).error();
    recovery_folder_.emplace(std::move(folder).value());
    const std::wstring& path = recovery_folder_->path();
    recovery_name_ = file_name(path).value_or(std::wstring());
    staged_ = join_path(path, layout::bootstrap_file_name);
    previous_bootstrap_ = join_path(path, layout::previous_bootstrap_name);
    previous_shortcut_ = join_path(path, layout::previous_shortcut_name);
    temp_shortcut_ = join_path(places_.folders.desktop, temp_shortcut_name(recovery_name_));
    return {};
}

std::string WindowsBootstrapSteps::recovery_folder_path() {
    return recovery_folder_ ? path_text(recovery_folder_->path()) : std::string();
}

void WindowsBootstrapSteps::keep_recovery_folder() {
    if (recovery_folder_)
        recovery_folder_->keep();
}

void WindowsBootstrapSteps::remove_recovery_folder() {
    recovery_folder_.reset();
}

void WindowsBootstrapSteps::remove_stale_recovery_files() {
    remove_temp_folders(places_.folders.product, layout::bootstrap_setup_prefix,
                        recovery_folder_ ? recovery_folder_->path() : std::wstring());
    const std::wstring& desktop = places_.folders.desktop;
    const IoResult<std::vector<FolderEntry>> entries = list_folder(desktop);
    if (!entries)
        return;
    for (const FolderEntry& entry : *entries) {
        // Plain files only: what a link points to is not ours to delete.
        const bool plain_file =
            !(entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        const std::wstring path = join_path(desktop, entry.name);
        if (plain_file && is_temp_shortcut_name(entry.name) && !same_path(path, temp_shortcut_))
            static_cast<void>(delete_own_file(path));
    }
}

IoStatus WindowsBootstrapSteps::record_claim() {
    return vantrel::record_claim(*lock_, path_text(recovery_name_));
}

IoResult<bool> WindowsBootstrapSteps::claim_is_ours() {
    auto claim = read_claim(*lock_);
    if (!claim)
        return std::move(claim).error();
    const std::string name = path_text(recovery_name_);
    return std::string(claim->begin(), claim->end()) == name;
}

void WindowsBootstrapSteps::delete_temp_shortcut() {
    DeleteFileW(temp_shortcut_.c_str());
}

IoResult<bool> WindowsBootstrapSteps::bootstrap_exists() {
    return path_exists(bootstrap_);
}

IoResult<bool> WindowsBootstrapSteps::shortcut_exists() {
    return path_exists(desktop_shortcut_);
}

bool WindowsBootstrapSteps::installed_has_same_content() {
    const IoResult<bool> same = same_content(places_.program, bootstrap_);
    return same && *same;
}

IoStatus WindowsBootstrapSteps::stage_copy() {
    auto program = open_for_reading(places_.program);
    if (!program)
        return std::move(program).error();
    const UniqueHandle staged(CreateFileW(staged_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!staged)
        return last_os_error();
    if (auto copied = copy_file_contents(program->get(), staged.get(), copy_block_size); !copied)
        return copied;
    if (!FlushFileBuffers(staged.get()))
        return last_os_error();
    return {};
}

IoStatus WindowsBootstrapSteps::back_up_bootstrap() {
    return copy_to_new_file(bootstrap_, previous_bootstrap_);
}

Result<bool> WindowsBootstrapSteps::write_temp_shortcut(bool force) {
    return write_shortcut(bootstrap_, desktop_shortcut_, temp_shortcut_, force);
}

IoStatus WindowsBootstrapSteps::back_up_shortcut() {
    return copy_to_new_file(desktop_shortcut_, previous_shortcut_);
}

IoStatus WindowsBootstrapSteps::move_staged_copy_into_place() {
    return move_replacing(staged_, bootstrap_);
}

IoStatus WindowsBootstrapSteps::move_temp_shortcut_into_place() {
    return move_replacing(temp_shortcut_, desktop_shortcut_);
}

IoResult<bool> WindowsBootstrapSteps::staged_copy_exists() {
    return path_exists(staged_);
}

IoStatus WindowsBootstrapSteps::restore_bootstrap(bool existed) {
    return restore_from_backup(bootstrap_, previous_bootstrap_, existed);
}

IoStatus WindowsBootstrapSteps::restore_shortcut(bool existed) {
    return restore_from_backup(desktop_shortcut_, previous_shortcut_, existed);
}

Status WindowsBootstrapSteps::start_installed_bootstrap(bool console) {
    auto null_device = open_null_device();
    if (!null_device)
        return Error::from_io(Stage::Bootstrap, null_device.error());
    ChildCommand command{bootstrap_,
                         {},
                         standard_handle_or(STD_INPUT_HANDLE, *null_device),
                         standard_handle_or(STD_OUTPUT_HANDLE, *null_device),
                         standard_handle_or(STD_ERROR_HANDLE, *null_device),
                         true};
    const std::wstring console_argument = to_wide(console_option);
    if (console)
        command.arguments.push_back(console_argument);
    // Never waited for: the started copy carries the run on by itself.
    auto started = start_child(command);
    if (!started)
        return Error::from_io(Stage::Bootstrap, started.error());
    return {};
}

Status WindowsBootstrapSteps::update_setup_shortcut() {
    const ShortcutFolders& folders = places_.folders;
    return vantrel::update_setup_shortcut(folders.product, folders.desktop, folders.programs);
}

Status WindowsBootstrapSteps::register_apps_entry() {
    return vantrel::register_apps_entry(places_.folders.product);
}

}  // namespace vantrel

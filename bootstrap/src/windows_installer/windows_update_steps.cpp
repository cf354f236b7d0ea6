#include "windows_installer/windows_update_steps.hpp"

#include <windows.h>

#include "lib/build_settings.hpp"
#include "lib/install_names.hpp"
#include "process/launcher_process.hpp"
#include "windows/download.hpp"
#include "windows/file_services.hpp"
#include "windows/handle_streams.hpp"
#include "windows/install_layout.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/verified_cache_file.hpp"
#include "windows/wide_text.hpp"

namespace vantrel {

Status WindowsUpdateSteps::find_launcher_folder() {
    if (folders_) {
        launcher_folder_ = join_path(folders_->product, layout::launcher_folder_name);
    } else {
        auto found = launcher_folder();
        if (!found)
            return std::move(found).error();
        launcher_folder_ = std::move(found).value();
    }
    launcher_path_ = join_path(launcher_folder_, to_wide(launcher_file_name));
    cache_path_ = join_path(launcher_folder_, layout::verified_cache_name);
    // The paths that this run reads, writes or replaces, with all their folders.
    for (const std::wstring& path :
         {launcher_path_, cache_path_, join_path(launcher_folder_, layout::launcher_lock_name)}) {
        if (auto safe = ensure_no_links(path); !safe)
            return safe;
    }
    return {};
}

std::string_view WindowsUpdateSteps::release_key() {
    return built_in_release_key();
}

Result<Bytes> WindowsUpdateSteps::download(std::string_view path, std::uint64_t limit,
                                           const DownloadProgressHook& progress) {
    return vantrel::download(path, limit, progress);
}

Status WindowsUpdateSteps::create_launcher_folder() {
    return with_stage(Stage::Installation, create_folder_tree(launcher_folder_));
}

Status WindowsUpdateSteps::take_launcher_lock() {
    auto lock = acquire_lock(launcher_folder_, layout::launcher_lock_name, Stage::Installation);
    if (!lock)
        return std::move(lock).error();
    lock_.emplace(std::move(lock).value());
    return {};
}

void WindowsUpdateSteps::release_launcher_lock() {
    lock_.reset();
}

IoResult<ReleaseFiles> WindowsUpdateSteps::read_cache() {
    return read_verified_cache(cache_path_);
}

IoStatus WindowsUpdateSteps::write_cache(const ReleaseFiles& files) {
    return write_verified_cache(cache_path_, files);
}

IoResult<Bytes> WindowsUpdateSteps::read_installed_launcher(std::size_t limit) {
    auto file = open_for_reading(launcher_path_);
    if (!file)
        return std::move(file).error();
    return read_limited(std::move(file).value(), limit);
}

const std::wstring& WindowsUpdateSteps::path_of(LauncherCopy copy) const {
    return copy == LauncherCopy::Installed ? launcher_path_ : staged_path_;
}

IoStatus WindowsUpdateSteps::check_regular_file(LauncherCopy copy) {
    return vantrel::check_regular_file(path_of(copy));
}

Status WindowsUpdateSteps::probe_launcher_version(LauncherCopy copy, std::string_view version) {
    return vantrel::probe_launcher_version(path_of(copy), version);
}

Status WindowsUpdateSteps::start_launcher() {
    return vantrel::start_launcher(launcher_path_);
}

IoStatus WindowsUpdateSteps::create_run_folder() {
    auto folder = create_temp_folder(launcher_folder_, layout::launcher_setup_prefix);
    if (!folder)
        return std::move(folder).error();
    run_folder_.emplace(std::move(folder).value());
    staged_path_ = join_path(run_folder_->path(), to_wide(launcher_file_name));
    backup_path_ = join_path(run_folder_->path(), layout::previous_launcher_name);
    return {};
}

std::string WindowsUpdateSteps::run_folder_path() {
    return run_folder_ ? path_text(run_folder_->path()) : std::string();
}

void WindowsUpdateSteps::keep_run_folder() {
    if (run_folder_)
        run_folder_->keep();
}

void WindowsUpdateSteps::remove_run_folder() {
    staged_file_.reset();
    run_folder_.reset();
}

void WindowsUpdateSteps::remove_stale_run_folders() {
    remove_temp_folders(launcher_folder_, layout::launcher_setup_prefix,
                        run_folder_ ? run_folder_->path() : std::wstring());
}

IoStatus WindowsUpdateSteps::write_staged_launcher(ByteView launcher) {
    staged_file_.reset(CreateFileW(staged_path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!staged_file_)
        return last_os_error();
    HandleSink sink(staged_file_.get());
    return sink.write(launcher);
}

IoStatus WindowsUpdateSteps::flush_staged_launcher() {
    if (!FlushFileBuffers(staged_file_.get())) {
        const IoError failure = last_os_error();
        staged_file_.reset();
        return failure;
    }
    staged_file_.reset();
    return {};
}

IoResult<bool> WindowsUpdateSteps::installed_launcher_exists() {
    return path_exists(launcher_path_);
}

IoStatus WindowsUpdateSteps::back_up_installed_launcher() {
    return copy_to_new_file(launcher_path_, backup_path_);
}

IoStatus WindowsUpdateSteps::move_staged_launcher_into_place() {
    return rename_replacing(staged_path_, launcher_path_);
}

IoStatus WindowsUpdateSteps::restore_backup() {
    return rename_replacing(backup_path_, launcher_path_);
}

IoStatus WindowsUpdateSteps::delete_installed_launcher() {
    if (!DeleteFileW(launcher_path_.c_str()))
        return last_os_error();
    return {};
}

Status WindowsUpdateSteps::refresh_shortcuts() {
    return folders_ ? refresh_launcher_shortcuts(*folders_) : refresh_launcher_shortcuts();
}

}  // namespace vantrel

#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <string_view>

#include "lib/result.hpp"

namespace vantrel {

// The install layout: the one owner of every folder and file name under the
// user's known folders. P = product folder, L = launcher folder.
namespace layout {
inline constexpr std::wstring_view product_folder_name = L"Vantrel";      // in Local AppData
inline constexpr std::wstring_view bootstrap_file_name = L"Vantrel.exe";  // P
inline constexpr std::wstring_view bootstrap_lock_name = L".bootstrap-install.lock";  // P
inline constexpr std::wstring_view bootstrap_setup_prefix = L".bootstrap-setup-";     // P
inline constexpr std::wstring_view previous_bootstrap_name = L"previous-bootstrap.exe";
inline constexpr std::wstring_view previous_shortcut_name = L"previous-shortcut.lnk";
inline constexpr std::wstring_view launcher_folder_name = L"bin";                      // P
inline constexpr std::wstring_view launcher_lock_name = L".launcher-setup.lock";       // L
inline constexpr std::wstring_view verified_cache_name = L".launcher-verified-cache";  // L
inline constexpr std::wstring_view launcher_setup_prefix = L".launcher-setup-";        // L
inline constexpr std::wstring_view previous_launcher_name = L"previous-launcher.exe";
inline constexpr std::wstring_view temp_file_prefix = L".tmp";
inline constexpr std::wstring_view shortcut_name = L"Orvanis Launcher.lnk";  // desktop, Start menu
inline constexpr std::wstring_view older_shortcut_names[] = {L"Vantrel.lnk",
                                                             L"Orvane Launcher.lnk"};
inline constexpr std::wstring_view temp_shortcut_prefix = L".orvane-shortcut-";
// The bootstrap install's desktop shortcut in the making: prefix + recovery folder name
// + the shortcut suffix, in the Desktop.
inline constexpr std::wstring_view temp_desktop_shortcut_prefix = L".Vantrel-";
inline constexpr std::wstring_view temp_desktop_shortcut_fallback = L"setup";
inline constexpr std::wstring_view temp_shortcut_suffix = L".lnk";
inline constexpr std::wstring_view uninstall_folder_prefix = L"orvane-uninstall-";  // in %TEMP%
inline constexpr std::wstring_view uninstall_copy_name = L"OrvaneUninstall.exe";
// The launcher executable's name is portable: launcher_file_name in lib/install_names.hpp.

// Known folders as failure messages name them.
inline constexpr std::string_view local_app_data_display_name = "Local AppData";
inline constexpr std::string_view desktop_display_name = "Desktop";
inline constexpr std::string_view programs_display_name = "Start menu";
}  // namespace layout

// "folder" + one separator + "name" (no second separator when folder ends in one).
std::wstring join_path(std::wstring_view folder, std::wstring_view name);

// SHGetKnownFolderPath; failure: Installation, "Windows could not find your <name> folder."
Result<std::wstring> known_folder(const KNOWNFOLDERID& id, std::string_view name);

// Local AppData + "Vantrel".
Result<std::wstring> product_folder();

// product_folder + "bin".
Result<std::wstring> launcher_folder();

// The user's temporary folder, with a trailing separator (GetTempPath2W where the
// system has it, otherwise GetTempPathW).
IoResult<std::wstring> temporary_folder();

}  // namespace vantrel

#pragma once

#include <functional>
#include <string>

#include "lib/result.hpp"
#include "windows/com_shell_link.hpp"
#include "windows/random_names.hpp"
#include "windows/temp_files.hpp"

namespace vantrel {

inline constexpr std::string_view shortcut_targets_missing_message =
    "The installed launcher or setup is missing.";

// The working folder of a shortcut to target: the target's parent folder, or the
// target itself when it has none.
std::wstring shortcut_working_folder(const std::wstring& target);

// Whether a path read from a link names the expected target; same_file_or_missing
// in real use.
using SameTarget = std::function<bool(const std::wstring& found, const std::wstring& expected)>;

// The match rule over what a link says: its target and icon name the target, icon
// index 0, the target's working folder, no arguments.
bool link_matches(const ShellLinkProperties& link, const std::wstring& target,
                  const SameTarget& same_target);

// The ownership rule: the link matches the bootstrap, or else the launcher
// executable, of the product folder.
bool link_is_own(const ShellLinkProperties& link, const std::wstring& product_folder,
                 const SameTarget& same_target);

// Without force, nothing is written (false) when the shortcut to compare with
// already matches the target. Otherwise a new shell link for the target is saved to
// save_path (normally a temporary file that the caller moves into place): true.
Result<bool> write_shortcut(const std::wstring& target, const std::wstring& compare_path,
                            const std::wstring& save_path, bool force,
                            const ShellLinkFactory& factory = create_shell_link);

// The match rule. A file that is missing, unreadable or not a readable shell link
// does not match; only COM itself failing is an error.
Result<bool> shortcut_matches(const std::wstring& target, const std::wstring& shortcut,
                              const ShellLinkFactory& factory = create_shell_link);

// The ownership rule, for a shortcut file.
Result<bool> is_own_shortcut(const std::wstring& product_folder, const std::wstring& shortcut,
                             const ShellLinkFactory& factory = create_shell_link);

// ".orvane-shortcut-" + 6 random characters + ".lnk", created new in folder with the
// temporary files' naming and retry rule, and closed at once: the shell link saves
// to it by name. Deleted when let go of unless moved away.
IoResult<TempFile> create_temp_shortcut(const std::wstring& folder,
                                        NameSource& names = random_names());

// Points the Start-menu shortcut at the bootstrap and removes the Desktop's
// "Vantrel.lnk" when it is the product's own. File-system failures: stage Bootstrap.
Status update_setup_shortcut(const std::wstring& product_folder, const std::wstring& desktop,
                             const std::wstring& programs,
                             const ShellLinkFactory& factory = create_shell_link);

struct ShortcutFolders {
    std::wstring product;
    std::wstring desktop;
    std::wstring programs;
};

// Under both setup locks, points the Desktop and Start-menu shortcuts at the
// launcher executable and removes the older names that are the product's own.
// File-system failures: stage Installation.
Status refresh_launcher_shortcuts(const ShortcutFolders& folders,
                                  const ShellLinkFactory& factory = create_shell_link);

// The product folder and the user's own Desktop and Start menu.
Result<ShortcutFolders> user_shortcut_folders();

// The same for the product folder and the user's own Desktop and Start menu.
Status refresh_launcher_shortcuts();

}  // namespace vantrel

#pragma once

#include <windows.h>

#include <shobjidl.h>

#include <functional>
#include <optional>
#include <string>

#include "lib/result.hpp"

namespace vantrel {

// What a shell link says, as read back through IShellLinkW.
struct ShellLinkProperties {
    std::wstring target;  // raw, as stored
    std::wstring working_folder;
    std::wstring arguments;
    std::wstring icon_path;
    int icon_index = 0;
};

// Makes a new ShellLink object. Tests substitute objects that fail where they choose.
using ShellLinkFactory = std::function<HRESULT(IShellLinkW** link)>;

// CoCreateInstance(CLSID_ShellLink) for IShellLinkW, in process.
HRESULT create_shell_link(IShellLinkW** link);

// Builds a shell link with exactly a target, a working folder and the target as icon
// (index 0), and saves it to save_path. Every failure is a COM failure: stage
// Bootstrap, the step's message and the HRESULT.
Status save_shell_link(const std::wstring& target, const std::wstring& working_folder,
                       const std::wstring& save_path, const ShellLinkFactory& factory);

// The properties of the shell link in path. Nothing (not an error) when the file is
// missing or unreadable, is not a shell link, or a property cannot be read; only
// failing to set COM up is an error (stage Bootstrap).
Result<std::optional<ShellLinkProperties>> read_shell_link(const std::wstring& path,
                                                           const ShellLinkFactory& factory);

}  // namespace vantrel

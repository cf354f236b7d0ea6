#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/bytes.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel::testing {

// Another process (tests/programs/lock_holder) that holds a setup lock or an open
// file, as a running setup or launcher would. Killed when let go of.
class HolderProcess {
  public:
    // Starts lock_holder with these arguments and waits until it says "ready".
    // Nothing, with what it said in failure, when it could not take the file.
    static std::optional<HolderProcess> start(const std::wstring& arguments, std::string& failure);

    HolderProcess(HolderProcess&&) = default;
    HolderProcess& operator=(HolderProcess&&) = delete;
    ~HolderProcess() { stop(); }

    // Kills the holder and waits until it has gone, with its handles.
    void stop();

  private:
    explicit HolderProcess(UniqueHandle process) : process_(std::move(process)) {}
    UniqueHandle process_;
};

// Holds the file open with the given share mode (FILE_SHARE_* bits) in another process.
std::optional<HolderProcess> hold_open(const std::wstring& path, DWORD share_mode,
                                       std::string& failure);

bool running_under_wine();

// A symbolic link to a folder, removed (the link, never its target) when let go of.
// Under Wine, where CreateSymbolicLinkW makes nothing, it is a unix link, which Wine
// shows as a reparse point; Wine's own removal would delete the target instead.
class FolderLink {
  public:
    FolderLink(const std::wstring& target, const std::wstring& link);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;

    // Why no link could be made; nothing when it exists.
    const std::optional<std::string>& failure() const { return failure_; }

  private:
    std::wstring link_;
    std::optional<std::string> unix_link_;
    std::optional<std::string> failure_;
};

// Makes link a junction to the folder target (FSCTL_SET_REPARSE_POINT). Nothing on
// success, otherwise why it could not.
std::optional<std::string> make_junction(const std::wstring& target, const std::wstring& link);

// Makes link a symbolic link to the file target with CreateSymbolicLinkW only: a
// unix link to a file is not a reparse point to Wine, and deleting one deletes its
// target. Nothing on success, otherwise why it could not.
std::optional<std::string> make_file_link(const std::wstring& target, const std::wstring& link);

// File names in folder (no "." and ".."), sorted.
std::vector<std::wstring> folder_entries(const std::wstring& folder);

}  // namespace vantrel::testing

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel::testing {

// A build-tree path as the Windows side sees it (Wine maps / to Z:).
std::wstring windows_path_of_build_file(std::string_view relative);

// A test program built from tests/programs, by target name.
std::wstring test_program_path(std::string_view name);

void write_file(const std::wstring& path, std::string_view content);
std::optional<std::string> read_file(const std::wstring& path);
bool exists(const std::wstring& path);

// A fresh folder under the temporary folder, removed with its content at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder's path with a trailing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring file(std::wstring_view name) const { return path_ + std::wstring(name); }

  private:
    std::wstring path_;
};

}  // namespace vantrel::testing

#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/bytes.hpp"

namespace vantrel::testing {

// Why the reference tools cannot be run here, or nothing when they can: signatures
// and digests in these tests come from the real minisign, sha256sum, b2sum and tar.
std::optional<std::string> reference_tools_missing();

// A fresh folder under the temporary folder, removed with its content at the end.
class ToolScratch {
  public:
    ToolScratch();
    ~ToolScratch();
    ToolScratch(const ToolScratch&) = delete;
    ToolScratch& operator=(const ToolScratch&) = delete;

    // A file of the folder with the given content; returns its path.
    std::filesystem::path write(std::string_view name, ByteView content) const;
    std::filesystem::path path(std::string_view name) const { return folder_ / name; }
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
};

Bytes read_file(const std::filesystem::path& path);

// Runs a program with arguments (no shell), in a working folder if one is given,
// and gives its standard output, or nothing when it could not be run or did not
// exit with 0.
std::optional<Bytes> run_tool(const std::vector<std::string>& argv,
                              const std::filesystem::path& working_folder = {});

enum class TestKey { Release, Other };

struct SignOptions {
    TestKey key = TestKey::Release;
    bool legacy = false;
    std::string trusted_comment = "timestamp:1700000000\tfile:package";
};

// The signature file that the real minisign writes for data.
Bytes minisign(ByteView data, const SignOptions& options = {});

// The public-key text of a test key, as stored with the tests.
std::string public_key_text(TestKey key);

// Standard base64 with "=" padding, for building signature lines by hand.
std::string encode_base64(ByteView bytes);

}  // namespace vantrel::testing

#include "minisign_tool_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace vantrel::testing {
namespace {

std::filesystem::path key_path(TestKey key, std::string_view extension) {
    const char* name = key == TestKey::Release ? "release-test" : "other-test";
    return std::filesystem::path(VANTREL_SOURCE_DIR) / "tests" / "keys" /
           (std::string(name) + std::string(extension));
}

}  // namespace

std::optional<std::string> reference_tools_missing() {
#ifdef _WIN32
    return "the reference tools (minisign, sha256sum, b2sum, tar) run only on the Linux host";
#else
    // Asked once: every test that signs or hashes starts by asking.
    static const std::optional<std::string> missing = []() -> std::optional<std::string> {
        const char* const probes[][2] = {{"minisign", "-v"},
                                         {"sha256sum", "--version"},
                                         {"b2sum", "--version"},
                                         {"tar", "--version"}};
        for (const auto& probe : probes) {
            if (!run_tool({probe[0], probe[1]})) {
                return std::string(probe[0]) + " cannot be run";
            }
        }
        return std::nullopt;
    }();
    return missing;
#endif
}

ToolScratch::ToolScratch() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (;;) {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vantrel-verify-" + std::to_string(random()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(folder_)) {
            break;
        }
    }
}

ToolScratch::~ToolScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::filesystem::path ToolScratch::write(std::string_view name, ByteView content) const {
    const std::filesystem::path file = path(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out) {
        ADD_FAILURE() << "could not write " << file;
    }
    return file;
}

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "could not read " << path;
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<Bytes> run_tool(const std::vector<std::string>& argv,
                              const std::filesystem::path& working_folder) {
#ifdef _WIN32
    (void)argv;
    (void)working_folder;
    return std::nullopt;
#else
    const ToolScratch output;
    const std::filesystem::path stdout_file = output.path("stdout");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdout_file.c_str(), O_WRONLY | O_CREAT, 0600);
    if (!working_folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return std::nullopt;
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return read_file(stdout_file);
#endif
}

Bytes minisign(ByteView data, const SignOptions& options) {
    const ToolScratch scratch;
    const std::filesystem::path data_file = scratch.write("data", data);
    const std::filesystem::path signature_file = scratch.path("data.minisig");
    std::vector<std::string> argv = {"minisign", "-S",
                                     "-s",       key_path(options.key, ".key").string(),
                                     "-m",       data_file.string(),
                                     "-x",       signature_file.string(),
                                     "-t",       options.trusted_comment};
    if (options.legacy) {
        argv.push_back("-l");
    }
    if (!run_tool(argv)) {
        ADD_FAILURE() << "minisign could not sign";
        return {};
    }
    return read_file(signature_file);
}

std::string public_key_text(TestKey key) {
    const Bytes text = read_file(key_path(key, ".pub"));
    return std::string(text.begin(), text.end());
}

std::string encode_base64(ByteView bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t chunk = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            chunk = (chunk << 8) | (k < n ? bytes[i + k] : 0);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? alphabet[(chunk >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

}  // namespace vantrel::testing

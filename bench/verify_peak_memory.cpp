// Runs the setup's verify path once over a published release and reports the
// process's peak memory against the target (package + launcher + 16 MiB) and the
// time of that one run, which unlike the benchmark's repeated runs pays for
// fresh memory pages.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_release.hpp"
#include "lib/internal_fault.hpp"
#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "lib/release_limits.hpp"
#include "lib/release_verification.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/file_io.hpp"
#include "vantrel-release/minisign_keys.hpp"
#include "vantrel-release/release_tree.hpp"

namespace {

using namespace vantrel;
using bench::mebibyte;

constexpr std::size_t allowance = 16 * mebibyte;

// A field of /proc/self/status in bytes: VmHWM is the peak resident size of this
// program alone (getrusage's would carry over the parent's peak across exec), VmRSS
// the current one.
std::size_t status_bytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':')
            return std::stoull(line.substr(field.size() + 1)) * 1024;  // reported in kB
    }
    internal_fault("no memory figures in /proc/self/status");
}

std::size_t peak_resident_bytes() {
    return status_bytes("VmHWM");
}
std::size_t resident_bytes() {
    return status_bytes("VmRSS");
}

double in_mib(std::size_t bytes) {
    return static_cast<double>(bytes) / mebibyte;
}

int fail(const std::string& message) {
    write_standard_error(message + "\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        write_standard_error("Usage: verify_peak_memory KEY.pub TREE\n");
        return 2;
    }
    const std::size_t at_start = resident_bytes();
    const std::filesystem::path root(argv[2]);

    auto key_text = release_tool::read_at_most(argv[1], release_tool::key_file_limit);
    if (!key_text)
        return fail(key_text.error().message);
    Result<PublicKey> key = decode_public_key(as_text(*key_text));
    auto body = release_tool::read_at_most(release_tool::tree_path(root, manifest_path),
                                           manifest_size_limit + 1);
    if (!body)
        return fail(body.error().message);
    Result<Manifest> manifest = parse_manifest(*body);
    if (!key || !manifest)
        return fail(!key ? key.error().display() : manifest.error().display());
    auto files = release_tool::read_release_files(root, *manifest);
    if (!files)
        return fail(files.error().message);
    const std::size_t loaded = resident_bytes();

    const auto started = std::chrono::steady_clock::now();
    Result<Bytes> launcher = verify_release(*manifest, *files, *key);
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - started;
    if (!launcher)
        return fail(launcher.error().display());
    const std::size_t peak = peak_resident_bytes();

    const std::size_t package = files->package.size();
    const std::size_t target = package + launcher->size() + allowance;
    char report[512];
    std::snprintf(report, sizeof report,
                  "peak memory at %.1f MiB package: %.1f MiB (%.1f MiB at start, %.1f MiB with "
                  "the files read); target package + launcher + 16 MiB = %.1f MiB: %s\n"
                  "one verify_release in a fresh process: %.1f ms\n",
                  in_mib(package), in_mib(peak), in_mib(at_start), in_mib(loaded), in_mib(target),
                  peak <= target ? "within" : "OVER", took.count());
    write_standard_output(report);
    return 0;
}

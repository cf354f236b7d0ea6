#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "lib/download_rules.hpp"
#include "lib/manifest.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/host_check.hpp"
#include "vantrel-release/key_files.hpp"
#include "vantrel-release/release_builder.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::array<OptionDefinition, 3> check_options{{
    {"key", true, true},
    {"ca-file", true, false},
    {"expect-version", true, false},
}};

constexpr std::string_view check_help =
    R"(Usage: vantrel-release check --key K.pub [--ca-file CA.pem]
                            [--expect-version X.Y.Z] URL

Fetches from a live download host exactly what a setup built for that host and
key fetches, with the setup's own rules: the stable manifest, then the four
files it names, each a plain GET with the setup's user agent, no redirect
followed, status 200 only, the setup's size limit and its 60-second limit.

  URL                    https://HOST, or https://HOST:PORT for a staging host
  --key FILE             minisign public key the setup is built with
  --ca-file FILE         trust only the CA certificates in FILE (PEM)
  --expect-version X.Y.Z the release stable must name

Prints one line per file (path, status, bytes, content type, encoding, cache
header, time), then a verdict. Besides the setup's own checks it reports what
the setup would not notice but players would: compressed answers, a declared
length the body does not reach, a manifest that caches may keep for more than
5 minutes, and the slowest connection that still fetches the package within
the setup's 60 seconds.

Exit status: 0 when the setup would install the stable release (and it is the
expected one), 1 otherwise, with the setup's message for the first problem and
what to change on the host; 2 for a usage error.
)";

// Tenths of a Mbit/s over the setup's transfer limit, in bits.
constexpr std::uint64_t bits_per_tenth_megabit =
    100000 * static_cast<std::uint64_t>(download_time_limit.count());

std::string slowest_connection(std::size_t package_size) {
    const std::uint64_t tenths = std::max<std::uint64_t>(
        1, (package_size * 8 + bits_per_tenth_megabit - 1) / bits_per_tenth_megabit);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " Mbit/s";
}

Done run_check(const Arguments& arguments) {
    Outcome<HostAddress> host = parse_host_url(arguments.operands().front());
    if (!host)
        return std::move(host).error();
    const std::optional<std::string_view> expected = arguments.value("expect-version");
    if (expected) {
        if (Done accepted = check_release_version(*expected); !accepted)
            return accepted;
    }
    Outcome<PublicKey> key = load_public_key(*arguments.value("key"));
    if (!key)
        return std::move(key).error();
    const std::optional<std::string_view> ca_file = arguments.value("ca-file");
    HostCheck check(*host, ca_file ? std::optional<std::string>(*ca_file) : std::nullopt);

    Outcome<LiveRelease> live = check_live_release(check, *key, expected);
    if (!live)
        return std::move(live).error();
    const std::size_t package_size = live->files.package.size();
    write_standard_output("OK: a setup for " + check.host().host +
                          " with this key installs launcher " + live->manifest.version +
                          "; its package of " + std::to_string(package_size) +
                          " bytes needs at least " + slowest_connection(package_size) +
                          " to arrive within the setup's 60 seconds\n");
    return {};
}

}  // namespace

const Command check_command{
    "check",    "check a live download host with the setup's own rules",
    check_help, check_options,
    1,          run_check,
};

}  // namespace vantrel::release_tool

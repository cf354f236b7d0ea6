#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "lib/release_files.hpp"
#include "vantrel-release/https_client.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// What went wrong on the host: the setup's words (or ours, where the setup would
// not notice) and what to change.
Failure host_problem(const std::string& words, const std::string& fix);

// Fetches from a live host as the setup does, with a line per file unless quiet.
class HostCheck {
  public:
    HostCheck(HostAddress host, std::optional<std::string> ca_file, bool quiet = false);

    // One fetch as the setup makes it; a failure says what to change on the host.
    Outcome<Bytes> fetch(std::string_view path, std::uint64_t limit, Fetched* kept = nullptr);

    const HostAddress& host() const { return host_; }
    bool quiet() const { return quiet_; }

  private:
    HostAddress host_;
    HttpsClient client_;
    bool quiet_;
};

// The four files a manifest names, fetched in artifact order under the setup's limits.
Outcome<ReleaseFiles> fetch_release(HostCheck& check, const Manifest& manifest);

// The files verified as the setup verifies them, or what to change on the host.
Done verify_fetched_release(const Manifest& manifest, const ReleaseFiles& files,
                            const PublicKey& key);

// A release the setup would install from the host, as it fetched it.
struct LiveRelease {
    Manifest manifest;
    ReleaseFiles files;
};

// What a setup does against the host: the stable manifest (which must name `expected`
// when given), then the four files it names, verified with the setup's code.
Outcome<LiveRelease> check_live_release(HostCheck& check, const PublicKey& key,
                                        std::optional<std::string_view> expected);

// "1.25 s"
std::string seconds_text(std::chrono::steady_clock::duration elapsed);

}  // namespace vantrel::release_tool

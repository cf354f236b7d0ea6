#include "vantrel-release/host_check.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "lib/download_rules.hpp"
#include "lib/release_limits.hpp"
#include "lib/release_verification.hpp"
#include "lib/standard_streams.hpp"

namespace vantrel::release_tool {
namespace {

std::string or_dash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string file_line(std::string_view path, const Fetched& fetched) {
    return std::string(path) + "  " + (fetched.status == 0 ? "-" : std::to_string(fetched.status)) +
           "  " + std::to_string(fetched.body.size()) + " bytes  " + or_dash(fetched.content_type) +
           "  " + (fetched.content_encoding.empty() ? "identity" : fetched.content_encoding) +
           "  cache: " + or_dash(fetched.cache_control) + "  " + seconds_text(fetched.elapsed) +
           "\n";
}

std::string transfer_fix(std::string_view path, const Fetched& fetched, const HostAddress& host,
                         std::uint64_t limit) {
    const std::string file(path);
    if (fetched.certificate_refused)
        return "give " + host.host + " a certificate that chains to a CA the system trusts";
    if (fetched.status == 0)
        return "serve HTTPS on " + host.host + " port " + std::to_string(host.port);
    if (fetched.status / 100 == 3) {
        return "serve " + file + " itself with status 200; the setup follows no redirect (this " +
               "one points to " + or_dash(fetched.location) + ")";
    }
    if (fetched.status == 404) {
        return "upload " + file +
               "; upload a release's versioned folder first and the manifest that names it last";
    }
    if (fetched.status != 200)
        return "answer " + file + " with status 200";
    if (fetched.outcome.error().detail() == download_timeout_error().detail())
        return "serve " + file + " fast enough to arrive within 60 seconds";
    return "keep " + file + " within the setup's limit of " + std::to_string(limit) + " bytes";
}

// What the setup takes without complaint but breaks players all the same.
Done check_framing(std::string_view path, const Fetched& fetched) {
    const std::string file(path);
    if (!fetched.content_encoding.empty() && fetched.content_encoding != "identity") {
        return host_problem(file + " is served with Content-Encoding " + fetched.content_encoding +
                                ": the setup takes the encoded bytes as the file.",
                            "serve these files as they are, without on-the-fly compression");
    }
    if (fetched.body_cut_short) {
        return host_problem(file + " declares Content-Length " +
                                std::to_string(fetched.declared_length.value_or(0)) +
                                " but its body ended after " + std::to_string(fetched.body.size()) +
                                " bytes.",
                            "upload the whole file again and purge the CDN's copy");
    }
    return {};
}

// A new release should reach every player within five minutes.
constexpr std::chrono::seconds manifest_cache_limit{300};
// The longest time a cache may keep the manifest, or nothing when it must revalidate.
std::optional<std::uint64_t> manifest_cache_seconds(std::string cache_control) {
    std::transform(cache_control.begin(), cache_control.end(), cache_control.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (cache_control.find("no-cache") != std::string::npos ||
        cache_control.find("no-store") != std::string::npos) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> longest;
    for (const std::string_view directive : {"max-age=", "s-maxage="}) {
        const auto at = cache_control.find(directive);
        if (at == std::string::npos)
            continue;
        std::uint64_t seconds = 0;
        const char* digits = cache_control.data() + at + directive.size();
        std::from_chars(digits, cache_control.data() + cache_control.size(), seconds);
        longest = std::max(longest.value_or(0), seconds);
    }
    return longest;
}

void warn_about_manifest_caching(const Fetched& manifest) {
    const std::string advice =
        " A new release would reach players late: send \"Cache-Control: "
        "no-cache\" or a max-age of at most 60 for the manifest.\n";
    if (manifest.cache_control.empty()) {
        write_standard_output(
            "Warning: the manifest has no Cache-Control header, so caches "
            "may keep it as long as they choose." +
            advice);
        return;
    }
    const std::optional<std::uint64_t> seconds = manifest_cache_seconds(manifest.cache_control);
    if (seconds && *seconds > static_cast<std::uint64_t>(manifest_cache_limit.count())) {
        write_standard_output("Warning: \"Cache-Control: " + manifest.cache_control +
                              "\" lets caches keep the manifest for " + std::to_string(*seconds) +
                              " seconds." + advice);
    }
}

Outcome<Manifest> fetch_manifest(HostCheck& check) {
    Fetched head;
    Outcome<Bytes> body = check.fetch(manifest_path, manifest_size_limit, &head);
    if (!body)
        return std::move(body).error();
    if (!check.quiet())
        warn_about_manifest_caching(head);
    Result<Manifest> manifest = parse_manifest(*body);
    if (!manifest) {
        const bool html = head.content_type.starts_with("text/html");
        return host_problem(manifest.error().display(),
                            html ? "the host answers an HTML page: serve the manifest file itself"
                                 : "publish the manifest with vantrel-release publish or promote");
    }
    return std::move(manifest).value();
}

}  // namespace

Failure host_problem(const std::string& words, const std::string& fix) {
    return {words + (words.ends_with('.') ? " " : ". ") + "On the host: " + fix + "."};
}

std::string seconds_text(std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::array<char, 32> text{};
    const auto end =
        std::to_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed, 2);
    return std::string(text.data(), end.ptr) + " s";
}

HostCheck::HostCheck(HostAddress host, std::optional<std::string> ca_file, bool quiet)
    : host_(host), client_(std::move(host), std::move(ca_file)), quiet_(quiet) {}

Outcome<Bytes> HostCheck::fetch(std::string_view path, std::uint64_t limit, Fetched* kept) {
    Fetched fetched = client_.fetch(path, limit);
    if (!quiet_)
        write_standard_output(file_line(path, fetched));
    if (!fetched.outcome) {
        return host_problem(fetched.outcome.error().display(),
                            transfer_fix(path, fetched, host_, limit));
    }
    if (Done framed = check_framing(path, fetched); !framed)
        return std::move(framed).error();
    if (kept != nullptr)
        *kept = fetched;
    return std::move(fetched.body);
}

Outcome<ReleaseFiles> fetch_release(HostCheck& check, const Manifest& manifest) {
    const std::array<std::string_view, 4> names = windows_artifact(manifest);
    ReleaseFiles files;
    const std::array<Bytes*, 4> bodies = {&files.package, &files.checksum, &files.signature,
                                          &files.checksum_signature};
    for (std::size_t index = 0; index < names.size(); ++index) {
        Outcome<Bytes> body = check.fetch(artifact_path(manifest.version, names[index]),
                                          release_file_size_limits[index]);
        if (!body)
            return std::move(body).error();
        *bodies[index] = std::move(body).value();
    }
    return files;
}

Done verify_fetched_release(const Manifest& manifest, const ReleaseFiles& files,
                            const PublicKey& key) {
    if (Result<Bytes> launcher = verify_release(manifest, files, key); !launcher) {
        return host_problem(launcher.error().display(),
                            "upload the release's files exactly as publish wrote them, and "
                            "check that --key is the key the setup is built with");
    }
    return {};
}

Outcome<LiveRelease> check_live_release(HostCheck& check, const PublicKey& key,
                                        std::optional<std::string_view> expected) {
    Outcome<Manifest> manifest = fetch_manifest(check);
    if (!manifest)
        return std::move(manifest).error();
    if (expected && manifest->version != *expected) {
        return host_problem("The stable manifest names release " + manifest->version + ", not " +
                                std::string(*expected) + ".",
                            "promote " + std::string(*expected) +
                                " and upload its manifest, then check again until caches have "
                                "let go of the old one");
    }
    Outcome<ReleaseFiles> files = fetch_release(check, *manifest);
    if (!files)
        return std::move(files).error();
    if (Done verified = verify_fetched_release(*manifest, *files, key); !verified)
        return std::move(verified).error();
    return LiveRelease{std::move(manifest).value(), std::move(files).value()};
}

}  // namespace vantrel::release_tool

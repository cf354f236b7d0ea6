#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "lib/digest.hpp"
#include "lib/manifest.hpp"
#include "lib/release_limits.hpp"
#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/host_check.hpp"
#include "vantrel-release/key_files.hpp"
#include "vantrel-release/local_release.hpp"
#include "vantrel-release/object_store.hpp"
#include "vantrel-release/release_versions.hpp"
#include "vantrel-release/upload_settings.hpp"

namespace vantrel::release_tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<OptionDefinition, 7> upload_options{{
    {"key", true, true},
    {"endpoint", true, false},
    {"region", true, false},
    {"public-url", true, false},
    {"ca-file", true, false},
    {"keep", true, false},
    {"dry-run", false, false},
}};

constexpr std::string_view upload_help =
    R"(Usage: vantrel-release upload --key K.pub [--endpoint URL] [--region R]
                             [--public-url https://HOST[:PORT]] [--ca-file CA.pem]
                             [--keep N] [--dry-run] DIR s3://BUCKET[/PREFIX]

Deploys a published tree to an S3-compatible object store in the order that
never lets players see a manifest naming files that are not there:

  1. DIR is verified exactly as verify does; nothing is sent from a tree that
     does not verify.
  2. Every versioned file the store lacks is uploaded. A file the store holds
     with the same size and SHA-256 is skipped; one it holds with other bytes
     is refused and nothing more is sent (publish a new version instead).
  3. With --public-url, the four files the new manifest names are fetched from
     the public URL as a setup fetches them, and verified (never the manifest,
     so that no cache keeps the old one just before the switch).
  4. The stable manifest is uploaded last.
  5. With --public-url, the public URL is checked as check --expect-version
     does until it serves the new release, for up to 10 minutes.
  6. With --keep N, whole version folders beyond the N newest are deleted,
     oldest first; never the one stable names, the one before it, or one that
     any manifest on the store names.

  DIR                  root of the published tree
  s3://BUCKET/PREFIX   where the tree goes: PREFIX/vantrel/launcher/...
  --key FILE           minisign public key the setup is built with
  --endpoint URL       the store (default AWS_ENDPOINT_URL, else AWS S3)
  --region R           the signing region (default AWS_REGION, else us-east-1)
  --public-url URL     the download host players use (a CDN in front of the
                       bucket), as https://HOST or https://HOST:PORT
  --ca-file FILE       trust only the CA certificates in FILE (PEM)
  --keep N             keep the N newest version folders on the store
  --dry-run            print every change it would make and make none

Credentials come from AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and
AWS_SESSION_TOKEN. Versioned files are sent with "Cache-Control: public,
max-age=31536000, immutable", the manifest with "Cache-Control: no-cache".
Running it again completes an upload that was cut short, and changes nothing
after one that finished. A rollback is promote in DIR, then upload.

Exit status: 0 when the store serves DIR's release, 1 on a failure (with the
store left as the failed step found it; the manifest only ever names a
complete release), 2 for a usage error.
)";

constexpr std::string_view versioned_cache_control = "public, max-age=31536000, immutable";
constexpr std::string_view manifest_cache_control = "no-cache";
constexpr std::uint64_t progress_threshold = 1024 * 1024;
constexpr std::chrono::minutes propagation_limit{10};
constexpr std::chrono::seconds propagation_poll{5};
constexpr std::size_t action_column = 10;

struct Tally {
    std::size_t uploaded = 0;
    std::uint64_t uploaded_bytes = 0;
    std::size_t skipped = 0;
    std::size_t deleted = 0;
};

void report(std::string_view action, std::string_view key, std::uint64_t size,
            std::string_view note) {
    std::string line(action);
    line.resize(std::max(line.size() + 1, action_column), ' ');
    write_standard_output(line + std::string(key) + "  " + std::to_string(size) + " bytes" +
                          (note.empty() ? "" : "  " + std::string(note)) + "\n");
}

void report_request(std::string_view method, const std::string& url, std::string_view details) {
    write_standard_output("would send " + std::string(method) + " " + url +
                          (details.empty() ? "" : "  " + std::string(details)) + "\n");
}

// The redrawn progress line, for a person watching a large file go.
class ProgressLine {
  public:
    ProgressLine(std::string_view key, std::uint64_t size)
        : key_(key), shown_(size > progress_threshold && ::isatty(STDOUT_FILENO) == 1) {}
    ~ProgressLine() {
        if (drawn_)
            write_standard_output("\r\x1b[2K");
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    UploadProgress callback() {
        if (!shown_)
            return {};
        return [this](std::uint64_t sent, std::uint64_t total) {
            const std::uint64_t percent = sent * 100 / total;
            if (drawn_ && percent == percent_)
                return;
            percent_ = percent;
            drawn_ = true;
            write_standard_output("\r\x1b[2K" + key_ + "  " + std::to_string(percent) + "%");
        };
    }

  private:
    std::string key_;
    bool shown_;
    bool drawn_ = false;
    std::uint64_t percent_ = 0;
};

enum class Stored { Missing, Same, Different };

// What the store holds under the file's key. Our uploads carry their SHA-256 as
// metadata (the ETag is no digest of the bytes in general); other objects are read back.
Outcome<Stored> stored_state(const ObjectStore& store, const LocalFile& file,
                             const std::map<std::string, std::uint64_t>& listed) {
    const auto found = listed.find(file.key);
    if (found == listed.end())
        return Stored::Missing;
    if (found->second != file.size)
        return Stored::Different;
    Outcome<std::optional<ObjectHead>> head = store.head(file.key);
    if (!head)
        return std::move(head).error();
    if (!*head)
        return Stored::Missing;
    std::string digest = (*head)->sha256;
    if (digest.empty()) {
        Outcome<std::optional<Bytes>> bytes = store.get(file.key, file.size + 1);
        if (!bytes)
            return std::move(bytes).error();
        if (!*bytes)
            return Stored::Missing;
        digest = lower_hex(sha256(**bytes));
    }
    return digest == file.sha256 ? Stored::Same : Stored::Different;
}

Done upload_object(const ObjectStore& store, const Settings& settings, std::string_view key,
                   ByteView bytes, std::string_view cache_control, std::string_view content_type,
                   Tally& tally) {
    if (settings.dry_run) {
        report_request("PUT", store.url(key),
                       std::to_string(bytes.size()) +
                           " bytes, Cache-Control: " + std::string(cache_control) +
                           ", Content-Type: " + std::string(content_type));
    } else {
        const Clock::time_point started = Clock::now();
        Done sent = [&] {
            ProgressLine progress(key, bytes.size());
            return store.put(key, {bytes, cache_control, content_type}, progress.callback());
        }();
        if (!sent)
            return sent;
        report("uploaded", key, bytes.size(), seconds_text(Clock::now() - started));
    }
    ++tally.uploaded;
    tally.uploaded_bytes += bytes.size();
    return {};
}

// Step 2: compares every file first, so that a refusal leaves the store untouched.
Done upload_versioned_files(const ObjectStore& store, const Settings& settings,
                            const LocalTree& tree, Tally& tally) {
    Outcome<std::vector<StoredObject>> objects = store.list(store_key(release_root));
    if (!objects)
        return std::move(objects).error();
    std::map<std::string, std::uint64_t> listed;
    for (const StoredObject& object : *objects)
        listed.emplace(object.key, object.size);

    std::vector<const LocalFile*> missing;
    for (const LocalFile& file : tree.files) {
        Outcome<Stored> stored = stored_state(store, file, listed);
        if (!stored)
            return std::move(stored).error();
        if (*stored == Stored::Different) {
            report("refused", file.key, file.size, "the store holds other bytes");
            return Failure{"the store holds " + file.key + " with other bytes than " +
                           file.path.string() +
                           ": a published release never changes, so publish a new version "
                           "(nothing was uploaded)"};
        }
        if (*stored == Stored::Same) {
            report("skipped", file.key, file.size, "the store holds the same bytes");
            ++tally.skipped;
        } else {
            missing.push_back(&file);
        }
    }
    for (const LocalFile* file : missing) {
        Outcome<Bytes> bytes = read_unchanged(*file);
        if (!bytes)
            return std::move(bytes).error();
        if (Done sent = upload_object(store, settings, file->key, *bytes, versioned_cache_control,
                                      file->content_type, tally);
            !sent) {
            return sent;
        }
    }
    return {};
}

// Step 3: what a setup would get from the public URL, before the manifest names it.
Done preflight(const Settings& settings, const PublicKey& key, const Manifest& manifest) {
    write_standard_output("Pre-flight from the public URL:\n");
    HostCheck check(*settings.public_host, settings.ca_file);
    Outcome<ReleaseFiles> files = fetch_release(check, manifest);
    Done verified =
        files ? verify_fetched_release(manifest, *files, key) : Done(std::move(files).error());
    if (!verified) {
        return Failure{
            "the pre-flight failed, so the manifest on the store was left as it "
            "was: " +
            verified.error().message};
    }
    return {};
}

// Step 4. Gives the version the store's manifest named before, if any.
Outcome<std::optional<std::string>> upload_manifest(const ObjectStore& store,
                                                    const Settings& settings, const LocalTree& tree,
                                                    Tally& tally) {
    const std::string key = store_key(manifest_path);
    Outcome<std::optional<Bytes>> stored = store.get(key, manifest_size_limit + 1);
    if (!stored)
        return std::move(stored).error();
    std::optional<std::string> previous;
    if (*stored) {
        if (Result<Manifest> manifest = parse_manifest(**stored); manifest)
            previous = manifest->version;
        if (**stored == tree.manifest_bytes) {
            report("skipped", key, tree.manifest_bytes.size(), "the store holds the same bytes");
            ++tally.skipped;
            return previous;
        }
    }
    if (Done sent = upload_object(store, settings, key, tree.manifest_bytes, manifest_cache_control,
                                  manifest_content_type, tally);
        !sent) {
        return std::move(sent).error();
    }
    return previous;
}

// Step 5.
Done wait_for_release(const Settings& settings, const PublicKey& key, const std::string& version) {
    const Clock::time_point started = Clock::now();
    for (bool first = true;; first = false) {
        HostCheck check(*settings.public_host, settings.ca_file, true);
        Outcome<LiveRelease> live = check_live_release(check, key, version);
        const Clock::duration waited = Clock::now() - started;
        if (live) {
            write_standard_output("The public URL served release " + version + " after " +
                                  seconds_text(waited) + "\n");
            return {};
        }
        if (waited >= propagation_limit) {
            return Failure{"the public URL did not serve release " + version +
                           " within 10 minutes: " + live.error().message};
        }
        if (first) {
            write_standard_output("Waiting up to 10 minutes for the public URL to serve release " +
                                  version + "...\n");
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(propagation_poll, propagation_limit - waited));
    }
}

// The version folders --keep removes, oldest first.
std::vector<std::string> versions_to_prune(std::vector<std::string> versions, std::size_t keep,
                                           const std::string& stable, std::set<std::string> named) {
    std::sort(versions.begin(), versions.end(), earlier_version);
    named.insert(stable);
    // The release before stable stays, so that a rollback is one manifest upload away.
    const auto after_previous =
        std::lower_bound(versions.begin(), versions.end(), stable, earlier_version);
    if (after_previous != versions.begin())
        named.insert(*std::prev(after_previous));
    std::vector<std::string> pruned;
    for (std::size_t i = 0; i + keep < versions.size(); ++i) {
        if (!named.contains(versions[i]))
            pruned.push_back(versions[i]);
    }
    return pruned;
}

// Step 6, after the switch.
Done prune(const ObjectStore& store, const Settings& settings, const std::string& stable,
           Tally& tally) {
    const std::string root_key = store_key(release_root);
    Outcome<std::vector<StoredObject>> objects = store.list(root_key);
    if (!objects)
        return std::move(objects).error();
    const std::string_view manifest_name = manifest_path.substr(manifest_path.rfind('/') + 1);
    std::map<std::string, std::vector<StoredObject>> folders;
    std::set<std::string> named;
    for (const StoredObject& object : *objects) {
        const std::string_view rest = std::string_view(object.key).substr(root_key.size());
        const std::string folder(rest.substr(0, rest.find('/')));
        if (is_valid_release_version(folder)) {
            folders[folder].push_back(object);
        } else if (rest.ends_with("/" + std::string(manifest_name))) {
            Outcome<std::optional<Bytes>> body = store.get(object.key, manifest_size_limit + 1);
            if (!body)
                return std::move(body).error();
            if (*body) {
                if (Result<Manifest> manifest = parse_manifest(**body); manifest)
                    named.insert(manifest->version);
            }
        }
    }
    std::vector<std::string> versions;
    for (const auto& [version, files] : folders)
        versions.push_back(version);
    for (const std::string& version :
         versions_to_prune(std::move(versions), *settings.keep, stable, std::move(named))) {
        for (const StoredObject& object : folders[version]) {
            const Clock::time_point started = Clock::now();
            if (settings.dry_run) {
                report_request("DELETE", store.url(object.key), "");
            } else if (Done removed = store.remove(object.key); !removed) {
                return removed;
            } else {
                report("deleted", object.key, object.size, seconds_text(Clock::now() - started));
            }
            ++tally.deleted;
        }
    }
    return {};
}

std::string summary(const Settings& settings, const Tally& tally, const std::string& stable,
                    const std::optional<std::string>& previous, Clock::duration elapsed) {
    const std::string counts = std::to_string(tally.uploaded) + " files (" +
                               std::to_string(tally.uploaded_bytes) + " bytes)";
    if (settings.dry_run) {
        return "Dry run: would upload " + counts + ", skip " + std::to_string(tally.skipped) +
               " and delete " + std::to_string(tally.deleted) + "; nothing was changed\n";
    }
    return "Uploaded " + counts + ", skipped " + std::to_string(tally.skipped) + ", deleted " +
           std::to_string(tally.deleted) + " in " + seconds_text(elapsed) + "; stable names " +
           stable + " (was " + previous.value_or("none") + ")\n";
}

Done run_upload(const Arguments& arguments) {
    const Clock::time_point started = Clock::now();
    Outcome<Settings> settings = read_settings(arguments);
    if (!settings)
        return std::move(settings).error();
    Outcome<PublicKey> key = load_public_key(*arguments.value("key"));
    if (!key)
        return std::move(key).error();
    Outcome<LocalTree> tree = read_local_tree(settings->root, *key);
    if (!tree)
        return std::move(tree).error();
    Outcome<Credentials> credentials = credentials_from_environment();
    if (!credentials)
        return std::move(credentials).error();
    const ObjectStore store(settings->endpoint, settings->location, std::move(credentials).value(),
                            settings->ca_file);

    Tally tally;
    if (Done sent = upload_versioned_files(store, *settings, *tree, tally); !sent)
        return sent;
    const bool checks_public = settings->public_host && !settings->dry_run;
    if (checks_public) {
        if (Done checked = preflight(*settings, *key, tree->manifest); !checked)
            return checked;
    }
    Outcome<std::optional<std::string>> previous = upload_manifest(store, *settings, *tree, tally);
    if (!previous)
        return std::move(previous).error();
    if (checks_public) {
        if (Done served = wait_for_release(*settings, *key, tree->manifest.version); !served)
            return served;
    }
    if (settings->keep) {
        if (Done pruned = prune(store, *settings, tree->manifest.version, tally); !pruned)
            return pruned;
    }
    write_standard_output(
        summary(*settings, tally, tree->manifest.version, *previous, Clock::now() - started));
    return {};
}

}  // namespace

const Command upload_command{
    "upload",    "deploy a published tree to an S3-compatible store, manifest last",
    upload_help, upload_options,
    2,           run_upload,
};

}  // namespace vantrel::release_tool

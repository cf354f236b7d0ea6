#include <sys/stat.h>

#include <array>
#include <filesystem>

#include "lib/standard_streams.hpp"
#include "vantrel-release/commands.hpp"
#include "vantrel-release/file_io.hpp"
#include "vantrel-release/minisign_keys.hpp"

namespace vantrel::release_tool {
namespace {

constexpr mode_t public_key_mode = 0644;
constexpr mode_t secret_key_mode = 0600;

constexpr std::array<OptionDefinition, 3> keygen_options{{
    {"public", true, true},
    {"secret", true, true},
    {"force", false, false},
}};

constexpr std::string_view keygen_help =
    R"(Usage: vantrel-release keygen --public K.pub --secret K.key [--force]

Makes a new release-signing key pair in minisign's file formats.

  --public FILE  the public key (minisign public-key text, for the setup's build)
  --secret FILE  the secret key, readable by its owner only
  --force        replace files that exist; without it nothing is written when
                 either file exists

The secret key is written unencrypted, in the form "minisign -G -W" writes:
keep it offline. Encrypted keys are not written, but publish reads them:
"minisign -C -s K.key" adds a password to this one.
)";

Done run_keygen(const Arguments& arguments) {
    const std::filesystem::path public_path(*arguments.value("public"));
    const std::filesystem::path secret_path(*arguments.value("secret"));
    const Existing existing = arguments.has("force") ? Existing::Replace : Existing::Keep;
    if (existing == Existing::Keep) {
        // Both are looked at first, so that a refusal leaves no half of a new pair.
        for (const auto& path : {secret_path, public_path}) {
            std::error_code code;
            if (std::filesystem::symlink_status(path, code).type() !=
                std::filesystem::file_type::not_found) {
                return Failure{path.string() + ": already exists (--force replaces it)"};
            }
        }
    }

    const SecretKey key = generate_secret_key();
    const std::string secret_text = secret_key_text(key);
    const std::string public_text = public_key_text(key);
    if (Done written =
            write_file_atomically(secret_path, as_bytes(secret_text), secret_key_mode, existing);
        !written) {
        return written;
    }
    if (Done written =
            write_file_atomically(public_path, as_bytes(public_text), public_key_mode, existing);
        !written) {
        return written;
    }
    write_standard_output("Wrote the secret key to " + secret_path.string() +
                          " and the public key to " + public_path.string() + "\n");
    return {};
}

}  // namespace

const Command keygen_command{
    "keygen", "make a new release-signing key pair", keygen_help, keygen_options, 0, run_keygen,
};

}  // namespace vantrel::release_tool

#include "lib/release_verification.hpp"

#include <sodium.h>

#include <utility>

#include "lib/checksum_file.hpp"
#include "lib/concurrent_sha256.hpp"
#include "lib/digest.hpp"
#include "lib/launcher_package.hpp"
#include "lib/minisign_signature.hpp"
#include "lib/release_limits.hpp"
#include "lib/signature_failure.hpp"

namespace vantrel {
namespace {

constexpr std::string_view size_limit_exceeded = "Package exceeds the setup size limit.";

bool ed25519_valid(const std::array<std::uint8_t, 64>& signature, ByteView message,
                   const PublicKey& key) {
    require_sodium();
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(),
                                       key.key.data()) == 0;
}

bool within_size_limits(const ReleaseFiles& files) {
    return files.package.size() <= package_size_limit &&
           files.checksum.size() <= companion_size_limit &&
           files.signature.size() <= companion_size_limit &&
           files.checksum_signature.size() <= companion_size_limit;
}

}  // namespace

Status verify_signature(const PublicKey& key, ByteView data, ByteView signature_file) {
    Result<MinisignSignature> read = read_minisign_signature(signature_file);
    if (!read) {
        return std::move(read).error();
    }
    const MinisignSignature& signature = *read;

    if (signature.algorithm[0] != 'E' ||
        (signature.algorithm[1] != 'd' && signature.algorithm[1] != 'D')) {
        return signature_error(SignatureFailure::UnsupportedAlgorithm);
    }
    // The key id comes first, so that a legacy signature from another key is
    // reported as coming from another key.
    if (signature.key_id != key.key_id) {
        return signature_error(SignatureFailure::DifferentKey);
    }
    if (signature.algorithm[1] != 'D') {
        return signature_error(SignatureFailure::LegacyAlgorithm);
    }

    const Blake2b512Digest digest = blake2b_512(data);
    Bytes signed_comment(signature.signature.begin(), signature.signature.end());
    const ByteView comment = as_bytes(signature.trusted_comment);
    signed_comment.insert(signed_comment.end(), comment.begin(), comment.end());
    if (!ed25519_valid(signature.signature, digest, key) ||
        !ed25519_valid(signature.global_signature, signed_comment, key)) {
        return signature_error(SignatureFailure::VerificationFailed);
    }
    return {};
}

Result<Bytes> verify_release(const Manifest& manifest, const ReleaseFiles& files,
                             const PublicKey& key) {
    if (!within_size_limits(files)) {
        return Error::from_text(Stage::Verification, size_limit_exceeded);
    }
    // The checksum's pass over the package runs beside the signature check's; its
    // result is only looked at once both signatures have passed.
    ConcurrentSha256 package_digest(files.package);
    if (Status package = verify_signature(key, files.package, files.signature); !package) {
        return std::move(package).error();
    }
    if (Status checksum = verify_signature(key, files.checksum, files.checksum_signature);
        !checksum) {
        return std::move(checksum).error();
    }
    const std::string_view archive_name = windows_artifact(manifest)[0];
    if (Status listed = check_checksum_file(files.checksum, archive_name, package_digest.digest());
        !listed) {
        return std::move(listed).error();
    }
    return extract_launcher(files.package);
}

}  // namespace vantrel

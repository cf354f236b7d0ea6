#include "vantrel-release/minisign_signer.hpp"

#include <sodium.h>

#include <array>

#include "lib/digest.hpp"
#include "lib/internal_fault.hpp"
#include "vantrel-release/base64_text.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::array<std::uint8_t, 2> prehashed_algorithm = {'E', 'D'};
constexpr std::string_view untrusted_comment =
    "untrusted comment: signature from vantrel-release secret key\n";
constexpr std::string_view trusted_comment_prefix = "trusted comment: ";

using Signature = std::array<std::uint8_t, crypto_sign_BYTES>;

Signature ed25519(const SecretKey& key, ByteView message) {
    require_sodium();
    Signature signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(),
                         key.secret.data());
    return signature;
}

}  // namespace

std::string trusted_comment_for(std::string_view file_name, std::int64_t timestamp) {
    return "timestamp:" + std::to_string(timestamp) + "\tfile:" + std::string(file_name) +
           "\thashed";
}

std::string sign_prehashed(const SecretKey& key, ByteView data, std::string_view trusted_comment) {
    if (trusted_comment.find_first_of("\r\n") != std::string_view::npos)
        internal_fault("trusted comment with a line break");

    const Blake2b512Digest digest = blake2b_512(data);
    const Signature signature = ed25519(key, digest);

    Bytes signature_line(prehashed_algorithm.begin(), prehashed_algorithm.end());
    signature_line.insert(signature_line.end(), key.key_id.begin(), key.key_id.end());
    signature_line.insert(signature_line.end(), signature.begin(), signature.end());

    Bytes signed_comment(signature.begin(), signature.end());
    const ByteView comment = as_bytes(trusted_comment);
    signed_comment.insert(signed_comment.end(), comment.begin(), comment.end());
    const Signature global_signature = ed25519(key, signed_comment);

    std::string text(untrusted_comment);
    text += encode_base64(signature_line) + "\n";
    text += std::string(trusted_comment_prefix) + std::string(trusted_comment) + "\n";
    text += encode_base64(global_signature) + "\n";
    return text;
}

}  // namespace vantrel::release_tool

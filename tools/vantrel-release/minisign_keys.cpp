#include "vantrel-release/minisign_keys.hpp"

#include <sodium.h>

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

#include "lib/base64.hpp"
#include "lib/digest.hpp"
#include "lib/text_lines.hpp"
#include "vantrel-release/base64_text.hpp"

namespace vantrel::release_tool {
namespace {

using Pair = std::array<std::uint8_t, 2>;
constexpr Pair signature_algorithm = {'E', 'd'};
constexpr Pair no_key_derivation = {0, 0};
constexpr Pair scrypt_key_derivation = {'S', 'c'};
constexpr Pair checksum_algorithm = {'B', '2'};

constexpr std::size_t salt_size = crypto_pwhash_scryptsalsa208sha256_SALTBYTES;
constexpr std::size_t checksum_size = 32;
static_assert(sizeof(SecretKey::secret) == crypto_sign_SECRETKEYBYTES);

// The decoded secret-key line, in file order. From key_id on the bytes are
// encrypted when a key derivation is named.
struct KeyLayout {
    static constexpr std::size_t signature_algorithm = 0;
    static constexpr std::size_t key_derivation = 2;
    static constexpr std::size_t checksum_algorithm = 4;
    static constexpr std::size_t salt = 6;
    static constexpr std::size_t opslimit = salt + salt_size;
    static constexpr std::size_t memlimit = opslimit + 8;
    static constexpr std::size_t key_id = memlimit + 8;
    static constexpr std::size_t secret = key_id + sizeof(SecretKey::key_id);
    static constexpr std::size_t checksum = secret + sizeof(SecretKey::secret);
    static constexpr std::size_t size = checksum + checksum_size;
    static constexpr std::size_t encrypted = key_id;
};
static_assert(KeyLayout::size == 158);

constexpr std::string_view comment_prefix = "untrusted comment: ";
constexpr std::string_view public_key_comment = "minisign public key ";
constexpr std::string_view secret_key_comment = "vantrel-release secret key, not encrypted";

using Checksum = std::array<std::uint8_t, checksum_size>;

// BLAKE2b-256 over the algorithm, the key id and the secret key.
Checksum key_checksum(const SecretKey& key) {
    require_sodium();
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, checksum_size);
    crypto_generichash_update(&state, signature_algorithm.data(), signature_algorithm.size());
    crypto_generichash_update(&state, key.key_id.data(), key.key_id.size());
    crypto_generichash_update(&state, key.secret.data(), key.secret.size());
    Checksum checksum{};
    crypto_generichash_final(&state, checksum.data(), checksum.size());
    return checksum;
}

// The key id as the signing tool prints it: the 64-bit little-endian number in
// upper-case hexadecimal.
std::string key_id_text(const SecretKey& key) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = key.key_id.rbegin(); byte != key.key_id.rend(); ++byte) {
        text += digits[*byte >> 4];
        text += digits[*byte & 0x0F];
    }
    return text;
}

std::uint64_t little_endian_u64(ByteView bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

bool pair_at(ByteView bytes, std::size_t offset, const Pair& expected) {
    return bytes[offset] == expected[0] && bytes[offset + 1] == expected[1];
}

Done decrypt(std::span<std::uint8_t> blob, const PasswordSource& password) {
    Outcome<std::string> entered = password();
    if (!entered)
        return std::move(entered).error();
    const std::uint64_t opslimit = little_endian_u64(ByteView(blob).subspan(KeyLayout::opslimit));
    const std::uint64_t memlimit = little_endian_u64(ByteView(blob).subspan(KeyLayout::memlimit));
    std::array<std::uint8_t, KeyLayout::size - KeyLayout::encrypted> stream{};
    const int derived = crypto_pwhash_scryptsalsa208sha256(
        stream.data(), stream.size(), entered->data(), entered->size(),
        blob.data() + KeyLayout::salt, opslimit, static_cast<std::size_t>(memlimit));
    sodium_memzero(entered->data(), entered->size());
    if (derived != 0)
        return Failure{"the key could not be derived from the password (out of memory?)"};
    for (std::size_t i = 0; i < stream.size(); ++i)
        blob[KeyLayout::encrypted + i] ^= stream[i];
    sodium_memzero(stream.data(), stream.size());
    return {};
}

}  // namespace

SecretKey generate_secret_key() {
    require_sodium();
    SecretKey key{};
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> public_key{};
    crypto_sign_keypair(public_key.data(), key.secret.data());
    randombytes_buf(key.key_id.data(), key.key_id.size());
    return key;
}

std::string public_key_text(const SecretKey& key) {
    Bytes line(signature_algorithm.begin(), signature_algorithm.end());
    line.insert(line.end(), key.key_id.begin(), key.key_id.end());
    // The public key is the second half of the Ed25519 secret key.
    line.insert(line.end(), key.secret.begin() + crypto_sign_SEEDBYTES, key.secret.end());
    return std::string(comment_prefix) + std::string(public_key_comment) + key_id_text(key) + "\n" +
           encode_base64(line) + "\n";
}

std::string secret_key_text(const SecretKey& key) {
    Bytes blob(KeyLayout::size, 0);
    std::copy(signature_algorithm.begin(), signature_algorithm.end(),
              blob.begin() + KeyLayout::signature_algorithm);
    std::copy(no_key_derivation.begin(), no_key_derivation.end(),
              blob.begin() + KeyLayout::key_derivation);
    std::copy(checksum_algorithm.begin(), checksum_algorithm.end(),
              blob.begin() + KeyLayout::checksum_algorithm);
    std::copy(key.key_id.begin(), key.key_id.end(), blob.begin() + KeyLayout::key_id);
    std::copy(key.secret.begin(), key.secret.end(), blob.begin() + KeyLayout::secret);
    const Checksum checksum = key_checksum(key);
    std::copy(checksum.begin(), checksum.end(), blob.begin() + KeyLayout::checksum);
    std::string text = std::string(comment_prefix) + std::string(secret_key_comment) + "\n" +
                       encode_base64(blob) + "\n";
    sodium_memzero(blob.data(), blob.size());
    return text;
}

Outcome<SecretKey> read_secret_key(ByteView file, const PasswordSource& password) {
    const Failure not_a_key{"not a minisign secret key"};
    const std::vector<std::string_view> lines = split_lines(as_text(file));
    if (lines.size() < 2)
        return not_a_key;
    std::optional<Bytes> decoded = decode_base64(lines[1]);
    if (!decoded || decoded->size() != KeyLayout::size)
        return not_a_key;
    Bytes& blob = *decoded;
    if (!pair_at(blob, KeyLayout::signature_algorithm, signature_algorithm) ||
        !pair_at(blob, KeyLayout::checksum_algorithm, checksum_algorithm)) {
        return Failure{"unsupported secret key algorithm"};
    }
    const bool encrypted = pair_at(blob, KeyLayout::key_derivation, scrypt_key_derivation);
    if (!encrypted && !pair_at(blob, KeyLayout::key_derivation, no_key_derivation))
        return Failure{"unsupported secret key encryption"};
    if (encrypted) {
        if (Done decrypted = decrypt(blob, password); !decrypted)
            return std::move(decrypted).error();
    }

    SecretKey key{};
    std::copy_n(blob.begin() + KeyLayout::key_id, key.key_id.size(), key.key_id.begin());
    std::copy_n(blob.begin() + KeyLayout::secret, key.secret.size(), key.secret.begin());
    Checksum stored{};
    std::copy_n(blob.begin() + KeyLayout::checksum, stored.size(), stored.begin());
    sodium_memzero(blob.data(), blob.size());

    // An unencrypted key written by the signing tool carries a zero checksum.
    const bool checksum_present =
        encrypted || std::any_of(stored.begin(), stored.end(), [](auto byte) { return byte; });
    if (checksum_present && key_checksum(key) != stored) {
        return Failure{encrypted ? "wrong password for this secret key"
                                 : "the secret key's checksum does not match"};
    }
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> public_key{};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> rebuilt{};
    crypto_sign_seed_keypair(public_key.data(), rebuilt.data(), key.secret.data());
    const bool consistent = rebuilt == key.secret;
    sodium_memzero(rebuilt.data(), rebuilt.size());
    if (!consistent)
        return Failure{"the secret key is damaged: its public half does not match"};
    return key;
}

}  // namespace vantrel::release_tool

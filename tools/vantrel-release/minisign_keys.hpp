#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "lib/bytes.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// Key files are a few hundred bytes; a larger file is not one.
inline constexpr std::size_t key_file_limit = 4096;

// A minisign signing key: its id and the Ed25519 secret key (seed, then public key).
struct SecretKey {
    std::array<std::uint8_t, 8> key_id;
    std::array<std::uint8_t, 64> secret;
};

// A new key pair with a random key id.
SecretKey generate_secret_key();

// The public-key file: an untrusted comment naming the key id and the base64 line
// of algorithm "Ed", key id and public key.
std::string public_key_text(const SecretKey& key);

// The secret-key file in minisign's unencrypted form (key derivation "\0\0"): an
// untrusted comment and the base64 line of algorithms, key-derivation parameters
// (zero), key id, secret key and its BLAKE2b-256 checksum.
std::string secret_key_text(const SecretKey& key);

// Asked for only when the key file is encrypted.
using PasswordSource = std::function<Outcome<std::string>()>;

// Reads a minisign secret-key file, unencrypted or encrypted with scrypt. The key's
// checksum and its public half are checked, so that a wrong password or a damaged
// file is refused before anything is signed with it.
Outcome<SecretKey> read_secret_key(ByteView file, const PasswordSource& password);

}  // namespace vantrel::release_tool

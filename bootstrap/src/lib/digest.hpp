#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

#include "lib/bytes.hpp"

namespace vantrel {

using Sha256Digest = std::array<std::uint8_t, 32>;
using Blake2b512Digest = std::array<std::uint8_t, 64>;

// Makes libsodium ready before any of its functions is used. Cheap after the first
// call and safe from any thread.
void require_sodium();

Sha256Digest sha256(ByteView data);

// The same, or nothing once a stop is requested: the data is hashed a chunk at a
// time, so that a stop takes effect soon.
std::optional<Sha256Digest> sha256_unless_stopped(ByteView data, const std::stop_token& stop);

// BLAKE2b with a 64-byte output and no key.
Blake2b512Digest blake2b_512(ByteView data);

// Two lower-case hexadecimal digits per byte.
std::string lower_hex(ByteView bytes);

}  // namespace vantrel

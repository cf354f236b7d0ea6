#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "vantrel-release/minisign_keys.hpp"

namespace vantrel::release_tool {

// The trusted comment the signing tool writes for a file signed at a time (seconds
// since 1970): "timestamp:<time>\tfile:<name>\thashed".
std::string trusted_comment_for(std::string_view file_name, std::int64_t timestamp);

// A minisign signature file over the data in the prehashed form ("ED": Ed25519 over
// the data's BLAKE2b-512), with the global signature over the signature and the
// trusted comment, which must be one line.
std::string sign_prehashed(const SecretKey& key, ByteView data, std::string_view trusted_comment);

}  // namespace vantrel::release_tool

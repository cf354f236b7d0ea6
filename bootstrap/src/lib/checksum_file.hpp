#pragma once

#include <string_view>
#include <vector>

#include "lib/bytes.hpp"
#include "lib/digest.hpp"
#include "lib/result.hpp"

namespace vantrel {

// The words of UTF-8 text, split at runs of characters with the Unicode White_Space
// property; leading and trailing white space gives no empty word.
std::vector<std::string_view> split_at_white_space(std::string_view text);

// Checks a checksum file in the form a sha256sum tool writes for one file: the
// package's SHA-256 (given) as lower-case hexadecimal and the archive name, which may
// carry one leading "*". Every failure has stage Verification.
Status check_checksum_file(ByteView checksum_file, std::string_view archive_name,
                           const Sha256Digest& package_digest);

}  // namespace vantrel

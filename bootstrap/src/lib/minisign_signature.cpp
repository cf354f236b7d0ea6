#include "lib/minisign_signature.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "lib/base64.hpp"
#include "lib/signature_failure.hpp"
#include "lib/text_lines.hpp"
#include "lib/utf.hpp"

namespace vantrel {
namespace {

constexpr std::size_t signature_line_length = sizeof(MinisignSignature::algorithm) +
                                              sizeof(MinisignSignature::key_id) +
                                              sizeof(MinisignSignature::signature);
constexpr std::size_t global_signature_length = sizeof(MinisignSignature::global_signature);
static_assert(signature_line_length == 74 && global_signature_length == 64);
constexpr std::string_view trusted_comment_prefix = "trusted comment: ";

}  // namespace

Result<MinisignSignature> read_minisign_signature(ByteView signature_file) {
    const std::string_view text = as_text(signature_file);
    if (const auto failure = find_invalid_utf8(text)) {
        return Error::from_utf8(*failure);
    }

    const std::vector<std::string_view> lines = split_lines(text);
    if (lines.size() < 4) {
        return signature_error(SignatureFailure::InvalidEncoding);
    }
    const auto signature_line = decode_base64(lines[1]);
    const auto global_line = decode_base64(lines[3]);
    if (!signature_line || signature_line->size() != signature_line_length || !global_line ||
        global_line->size() != global_signature_length ||
        !lines[2].starts_with(trusted_comment_prefix)) {
        return signature_error(SignatureFailure::InvalidEncoding);
    }

    MinisignSignature signature{};
    const std::uint8_t* field = signature_line->data();
    for (const auto target :
         {std::span<std::uint8_t>(signature.algorithm), std::span<std::uint8_t>(signature.key_id),
          std::span<std::uint8_t>(signature.signature)}) {
        std::copy_n(field, target.size(), target.begin());
        field += target.size();
    }
    signature.trusted_comment = lines[2].substr(trusted_comment_prefix.size());
    std::copy_n(global_line->begin(), global_signature_length, signature.global_signature.begin());
    return signature;
}

}  // namespace vantrel

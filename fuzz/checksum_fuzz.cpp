// The checksum-file check on the input, for a fixed package and archive name, and
// the white-space split on every input that is UTF-8.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lib/checksum_file.hpp"
#include "lib/digest.hpp"
#include "lib/internal_fault.hpp"
#include "lib/utf.hpp"

namespace {

constexpr std::string_view package = "fuzz package bytes\n";
constexpr std::string_view archive = "vantrel-launcher-1.0.0-windows-x86_64.tar.gz";

// Each word is a non-empty piece of the text, in order, and holds no white space.
void check_words(std::string_view text) {
    const char* end_of_previous = text.data();
    for (const std::string_view word : vantrel::split_at_white_space(text)) {
        if (word.empty() || word.data() < end_of_previous ||
            word.data() + word.size() > text.data() + text.size()) {
            vantrel::internal_fault("word outside the text or out of order");
        }
        const auto again = vantrel::split_at_white_space(word);
        if (again.size() != 1 || again[0] != word) {
            vantrel::internal_fault("word holds white space");
        }
        end_of_previous = word.data() + word.size();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace vantrel;
    const ByteView input(bytes, size);
    const std::string_view text = as_text(input);
    const bool utf8 = !find_invalid_utf8(text);
    if (utf8) {
        check_words(text);
    }

    const Status status = check_checksum_file(input, archive, sha256(as_bytes(package)));
    if (status && (!utf8 || text.find(archive) == std::string_view::npos)) {
        internal_fault("checksum file accepted without the archive name");
    }
    if (!status && status.error().stage() != Stage::Verification) {
        internal_fault("checksum failure outside the Verification stage");
    }
    return 0;
}

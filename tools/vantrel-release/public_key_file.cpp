#include "vantrel-release/public_key_file.hpp"

#include "vantrel-release/file_io.hpp"
#include "vantrel-release/minisign_keys.hpp"

namespace vantrel::release_tool {

Outcome<PublicKey> load_public_key(const std::filesystem::path& path) {
    Outcome<Bytes> text = read_at_most(path, key_file_limit + 1);
    if (!text)
        return std::move(text).error();
    if (text->size() > key_file_limit)
        return Failure{path.string() + ": not a minisign public key (too large)"};
    Result<PublicKey> key = decode_public_key(as_text(*text));
    if (!key)
        return failure_of(key.error());
    return std::move(key).value();
}

}  // namespace vantrel::release_tool

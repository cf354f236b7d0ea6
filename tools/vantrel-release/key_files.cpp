#include "vantrel-release/key_files.hpp"

#include <string>
#include <string_view>

#include "vantrel-release/file_io.hpp"
#include "vantrel-release/password_prompt.hpp"

namespace vantrel::release_tool {
namespace {

// A key file is a few lines: anything larger is not one, whatever it holds.
Outcome<Bytes> read_key_file(const std::filesystem::path& path, std::string_view kind) {
    Outcome<Bytes> file = read_at_most(path, key_file_limit + 1);
    if (!file)
        return std::move(file).error();
    if (file->size() > key_file_limit)
        return Failure{path.string() + ": not a minisign " + std::string(kind) +
                       " key (too large)"};
    return file;
}

}  // namespace

Outcome<PublicKey> load_public_key(const std::filesystem::path& path) {
    Outcome<Bytes> text = read_key_file(path, "public");
    if (!text)
        return std::move(text).error();
    Result<PublicKey> key = decode_public_key(as_text(*text));
    if (!key)
        return Failure{path.string() + ": " + key.error().display()};
    return std::move(key).value();
}

Outcome<SecretKey> load_secret_key(const std::filesystem::path& path) {
    Outcome<Bytes> file = read_key_file(path, "secret");
    if (!file)
        return std::move(file).error();
    Outcome<SecretKey> key = read_secret_key(*file, read_password);
    if (!key)
        return Failure{path.string() + ": " + key.error().message};
    return key;
}

}  // namespace vantrel::release_tool

#pragma once

#include "lib/bytes.hpp"
#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "lib/release_files.hpp"
#include "lib/result.hpp"

namespace vantrel {

// Checks a minisign signature file over data against the key.
Status verify_signature(const PublicKey& key, ByteView data, ByteView signature_file);

// Checks the four files of the manifest's release against the key and the signed
// checksum, and gives the launcher executable from the package.
Result<Bytes> verify_release(const Manifest& manifest, const ReleaseFiles& files,
                             const PublicKey& key);

}  // namespace vantrel

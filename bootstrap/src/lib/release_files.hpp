#pragma once

#include "lib/bytes.hpp"

namespace vantrel {

// The four files of a release, in artifact order: the order they are downloaded,
// verified and cached in.
struct ReleaseFiles {
    Bytes package;
    Bytes checksum;
    Bytes signature;
    Bytes checksum_signature;
};

}  // namespace vantrel

#pragma once

#include "lib/bytes.hpp"
#include "lib/install_names.hpp"
#include "lib/result.hpp"

namespace vantrel {

// Takes the single launcher executable out of a gzip-compressed tar package in
// memory. Every failure has stage Extraction.
Result<Bytes> extract_launcher(ByteView package);

// Whether the bytes are a 64-bit x86 Windows image.
Status check_executable(ByteView executable);

}  // namespace vantrel

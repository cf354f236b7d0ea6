#pragma once

#include "lib/bytes.hpp"
#include "vantrel-release/outcome.hpp"

namespace vantrel::release_tool {

// The launcher package: a gzip-compressed ustar archive whose one entry is the
// launcher as the regular file "vantrel-launcher.exe", mode 0644, owner 0, time 0,
// closed by two zero blocks and padded to a 10240-byte record. Nothing of the
// publisher's machine goes in, so the same launcher always gives the same package.
Outcome<Bytes> pack_launcher(ByteView launcher);

}  // namespace vantrel::release_tool

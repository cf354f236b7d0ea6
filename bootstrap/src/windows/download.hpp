#pragma once

#include <cstdint>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/download_progress_hook.hpp"
#include "lib/result.hpp"

namespace vantrel {

// One HTTPS GET of path on the download host, the whole body in memory. Refuses a path
// outside the release root before connecting, any status but 200, a body above limit
// bytes and a transfer longer than a minute; every failure has stage Network. Follows
// no redirect, sends no cookie and no credentials, and keeps nothing between calls.
Result<Bytes> download(std::string_view path, std::uint64_t limit,
                       const DownloadProgressHook& progress);

// The Network error of the WinHTTP call that just failed, from the thread's last error.
Error connection_error();

}  // namespace vantrel

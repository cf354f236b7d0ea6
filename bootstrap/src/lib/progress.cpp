#include "lib/progress.hpp"

#include <algorithm>

#include "lib/internal_fault.hpp"

namespace vantrel {

ProgressEvent::ProgressEvent(ProgressKind kind) : kind_(kind) {
    if (kind == ProgressKind::DownloadStarted || kind == ProgressKind::DownloadProgress) {
        internal_fault("progress event built without its payload");
    }
}

const DownloadStarted& ProgressEvent::download_started() const {
    if (kind_ != ProgressKind::DownloadStarted)
        internal_fault("not a DownloadStarted event");
    return started_;
}

const DownloadProgress& ProgressEvent::download_progress() const {
    if (kind_ != ProgressKind::DownloadProgress)
        internal_fault("not a DownloadProgress event");
    return progress_;
}

std::uint64_t download_share(std::uint64_t downloaded, std::uint64_t total, std::uint32_t scale) {
    if (total == 0)
        return 0;
    // 128 bits hold any 64-bit count times a 32-bit scale, so huge counts stay exact.
    __extension__ typedef unsigned __int128 Wide;
    const Wide part = std::min(downloaded, total);
    return static_cast<std::uint64_t>(part * scale / total);
}

}  // namespace vantrel

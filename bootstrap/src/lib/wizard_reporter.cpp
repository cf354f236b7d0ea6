#include "lib/wizard_reporter.hpp"

#include <array>
#include <string_view>

namespace vantrel {
namespace {

// Indexed by ProgressKind.
constexpr std::array<std::string_view, progress_kind_count> status_texts{{
    "Checking for an update.",
    "Update check is done.",
    "Please wait, we are getting the files.",
    "Downloading Orvanis Launcher.",
    "The files are here.",
    "Checking that the files are genuine.",
    "The files passed the check.",
    "Putting the Launcher in place.",
    "The Launcher is installed.",
    "Restoring your previous Launcher.",
    "Your previous Launcher is restored.",
    "Finishing setup.",
    "Setup is done. Please try again later if updates are slow.",
}};

std::optional<std::uint32_t> percent_of(const ProgressEvent& event) {
    if (event.kind() != ProgressKind::DownloadProgress)
        return std::nullopt;
    const DownloadProgress& progress = event.download_progress();
    if (!progress.total || *progress.total == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(download_share(progress.downloaded, *progress.total, 100));
}

}  // namespace

void WizardReporter::report(const ProgressEvent& event) {
    const std::string_view text = status_texts[static_cast<std::size_t>(event.kind())];
    // A failed send means the window has gone; the run goes on without it.
    static_cast<void>(sender_.send(StatusUpdate{cut_status_text(text), percent_of(event)}));
}

}  // namespace vantrel

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel {

// The steps the launcher update reports to its front end, in the order of their numbers.
enum class ProgressKind : std::uint8_t {
    CheckingForUpdate,
    UpdateCheckDone,
    DownloadStarted,
    DownloadProgress,
    DownloadFinished,
    Verifying,
    Verified,
    Installing,
    Installed,
    RestoringPrevious,
    PreviousRestored,
    StartingLauncher,
    CacheSaveFailed,
};

inline constexpr std::size_t progress_kind_count = 13;
static_assert(static_cast<std::size_t>(ProgressKind::CacheSaveFailed) + 1 == progress_kind_count);

struct DownloadStarted {
    std::string_view version;  // borrowed for the report call only
};

struct DownloadProgress {
    std::uint64_t downloaded = 0;
    std::optional<std::uint64_t> total;  // absent when the server gave no length
};

// One progress event: a kind, and the payload of the two kinds that carry one.
class ProgressEvent {
  public:
    // A kind without payload; DownloadStarted and DownloadProgress are built from theirs.
    ProgressEvent(ProgressKind kind);
    ProgressEvent(DownloadStarted started)
        : kind_(ProgressKind::DownloadStarted), started_(started) {}
    ProgressEvent(DownloadProgress progress)
        : kind_(ProgressKind::DownloadProgress), progress_(progress) {}

    ProgressKind kind() const { return kind_; }
    const DownloadStarted& download_started() const;
    const DownloadProgress& download_progress() const;

  private:
    ProgressKind kind_;
    DownloadStarted started_;
    DownloadProgress progress_;
};

// What a front end implements to follow the update. Reporting cannot fail: a front
// end that cannot show an event drops it.
class ProgressReporter {
  public:
    virtual ~ProgressReporter() = default;

    virtual void report(const ProgressEvent& event) = 0;
};

// min(downloaded, total) * scale / total, exact and truncated, so at most scale; 0 when
// total is 0.
std::uint64_t download_share(std::uint64_t downloaded, std::uint64_t total, std::uint32_t scale);

}  // namespace vantrel

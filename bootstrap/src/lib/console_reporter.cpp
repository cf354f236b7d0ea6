#include "lib/console_reporter.hpp"

#include <cstdio>

namespace vantrel {
namespace {

constexpr std::size_t step_column = 30;  // titles are padded to this width, then "OK"
constexpr std::size_t bar_cells = 30;

constexpr std::string_view step_ok = "OK\n";
constexpr std::string_view step_failed = "FAILED\n";
constexpr std::string_view download_failed = " FAILED\n";

constexpr std::string_view filled_cell = "\xE2\x96\x88";  // U+2588 full block
constexpr std::string_view empty_cell = "\xE2\x94\x80";   // U+2500 light horizontal

constexpr std::string_view checking_title = "Checking launcher...";
constexpr std::string_view verifying_title = "Verifying...";
constexpr std::string_view installing_title = "Installing launcher...";
constexpr std::string_view restoring_title = "Restoring previous launcher...";
constexpr std::string_view starting_line = "Starting launcher...\n";
constexpr std::string_view cache_warning =
    "Warning: the launcher verification cache could not be saved.\n";

std::string download_line(std::string_view version, const DownloadProgress& progress) {
    std::uint64_t percent = 0;
    std::uint64_t filled = 0;
    if (progress.total) {
        percent = download_share(progress.downloaded, *progress.total, 100);
        filled = download_share(progress.downloaded, *progress.total, bar_cells);
    }

    // Carriage return and erase-line redraw the line in place.
    std::string line = "\r\x1b[2KDownloading v";
    line += version;
    line += "... ";
    if (progress.total) {
        char field[8];
        std::snprintf(field, sizeof field, "%3u", static_cast<unsigned>(percent));
        line += field;
        line += "% [";
    } else {
        line += std::to_string(progress.downloaded);
        line += " bytes [";
    }
    for (std::size_t cell = 0; cell < bar_cells; ++cell) {
        line += cell < filled ? filled_cell : empty_cell;
    }
    line += "]";
    return line;
}

}  // namespace

void ConsoleReporter::report(const ProgressEvent& event) {
    switch (event.kind()) {
        case ProgressKind::CheckingForUpdate:
            begin_step(checking_title);
            return;
        case ProgressKind::DownloadStarted:
            download_version_ = std::string(event.download_started().version);
            draw_download(DownloadProgress{});
            return;
        case ProgressKind::DownloadProgress:
            draw_download(event.download_progress());
            return;
        case ProgressKind::DownloadFinished:
            download_version_.reset();
            write_output("\n");
            return;
        case ProgressKind::Verifying:
            begin_step(verifying_title);
            return;
        case ProgressKind::Installing:
            begin_step(installing_title);
            return;
        case ProgressKind::RestoringPrevious:
            begin_step(restoring_title);
            return;
        case ProgressKind::UpdateCheckDone:
        case ProgressKind::Verified:
        case ProgressKind::Installed:
        case ProgressKind::PreviousRestored:
            close_step();
            return;
        case ProgressKind::StartingLauncher:
            close_step();
            write_output(starting_line);
            return;
        case ProgressKind::CacheSaveFailed:
            error_.write(cache_warning);
            error_.flush();
            return;
    }
}

void ConsoleReporter::begin_step(std::string_view title) {
    std::string text;
    if (line_open_)
        text = step_ok;
    text += title;
    if (title.size() < step_column)
        text.append(step_column - title.size(), ' ');
    write_output(text);
    line_open_ = true;
}

void ConsoleReporter::close_step() {
    if (!line_open_)
        return;
    write_output(step_ok);
    line_open_ = false;
}

void ConsoleReporter::close_failed_line() {
    if (download_version_) {
        download_version_.reset();
        write_output(download_failed);
    }
    if (line_open_) {
        write_output(step_failed);
        line_open_ = false;
    }
}

void ConsoleReporter::draw_download(const DownloadProgress& progress) {
    const std::string_view version = download_version_ ? *download_version_ : std::string_view();
    write_output(download_line(version, progress));
}

void ConsoleReporter::write_output(std::string_view bytes) {
    output_.write(bytes);
    output_.flush();
}

}  // namespace vantrel

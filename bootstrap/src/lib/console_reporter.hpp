#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/progress.hpp"

namespace vantrel {

// A standard stream of the console front end. Write failures are not reported: the
// run's outcome does not depend on its output.
class ConsoleStream {
  public:
    virtual ~ConsoleStream() = default;

    virtual void write(std::string_view utf8) = 0;
    virtual void flush() = 0;
};

// Renders progress as one line per step and a download line redrawn in place. The
// console front end frames its own steps with begin_step and close_step and closes
// the open line when a step fails.
class ConsoleReporter final : public ProgressReporter {
  public:
    ConsoleReporter(ConsoleStream& output, ConsoleStream& error) : output_(output), error_(error) {}

    void report(const ProgressEvent& event) override;

    // Closes an open step with "OK", then writes the title padded to the step column.
    void begin_step(std::string_view title);
    // Closes an open step with "OK".
    void close_step();
    // Closes the line a failure interrupted: " FAILED" after a download line, "FAILED"
    // after a step title; nothing when no line is open.
    void close_failed_line();

    bool line_open() const { return line_open_; }

  private:
    void draw_download(const DownloadProgress& progress);
    void write_output(std::string_view bytes);

    ConsoleStream& output_;
    ConsoleStream& error_;
    bool line_open_ = false;
    std::optional<std::string> download_version_;
};

}  // namespace vantrel

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "lib/console_reporter.hpp"

namespace vantrel::testing {

// A console stream that keeps what was written and how much of it was flushed.
class RecordingStream final : public ConsoleStream {
  public:
    void write(std::string_view utf8) override { bytes += utf8; }
    void flush() override { flushed = bytes.size(); }

    std::string bytes;
    std::size_t flushed = 0;
};

}  // namespace vantrel::testing

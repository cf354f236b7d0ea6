#pragma once

#include <string>
#include <string_view>

#include "lib/console_reporter.hpp"
#include "lib/console_setup.hpp"

namespace vantrel {

enum class StandardStreamId { Output, Error };

// A standard stream of the process as the console run writes it: UTF-16 to a console
// whose code page is not UTF-8, so that non-ASCII text shows; the UTF-8 bytes unchanged
// to anything else. A missing handle swallows the text. Output is line-buffered, error
// unbuffered.
class StandardStream final : public ConsoleStream {
  public:
    explicit StandardStream(StandardStreamId id) : id_(id) {}
    ~StandardStream() override { flush(); }

    StandardStream(const StandardStream&) = delete;
    StandardStream& operator=(const StandardStream&) = delete;

    void write(std::string_view utf8) override;
    void flush() override;

  private:
    StandardStreamId id_;
    std::string pending_;
};

// The process's standard input.
class StandardInput final : public ConsoleInput {
  public:
    bool is_terminal() override;
    void read_line() override;
};

}  // namespace vantrel

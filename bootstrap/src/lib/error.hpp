#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// Where in the work a failure happened. The order is fixed: tables are indexed by it.
enum class Stage : std::uint8_t {
    Bootstrap,
    Network,
    Manifest,
    Verification,
    Extraction,
    Installation,
    Launch,
};

inline constexpr std::size_t stage_count = 7;

std::string_view stage_name(Stage stage);

// The one sentence the wizard shows for a failure of this stage.
std::string_view user_message(Stage stage);

// A failure of an input/output or system operation, already in words: either the
// system's text for an error code (built by the platform layer) or a message the
// program raises itself.
class IoError {
  public:
    static IoError raised(std::string message) { return IoError(std::move(message)); }
    static IoError from_system_text(std::string text) { return IoError(std::move(text)); }

    const std::string& text() const { return text_; }

  private:
    explicit IoError(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// Bytes that are not valid UTF-8 where text is required.
struct Utf8Failure {
    std::size_t index;        // byte index where the bad sequence starts
    std::size_t invalid_len;  // bytes of the invalid sequence; 0 when the text ends inside one
};

// The stage error: the stage and a detail text for people. Never changed after
// creation; wrapping builds a new one.
class Error {
  public:
    static Error from_text(Stage stage, std::string_view text) {
        return Error(stage, std::string(text));
    }
    static Error from_composed(Stage stage, std::string&& text) {
        return Error(stage, std::move(text));
    }
    static Error from_io(Stage stage, const IoError& failure) {
        return Error(stage, failure.text());
    }
    static Error from_utf8(const Utf8Failure& failure);

    Stage stage() const { return stage_; }
    const std::string& detail() const { return detail_; }

    // Stage name, " failed: ", detail.
    std::string display() const;
    // The record with its fields, for internal-fault messages.
    std::string diagnostic() const;

  private:
    Error(Stage stage, std::string detail) : stage_(stage), detail_(std::move(detail)) {}

    Stage stage_;
    std::string detail_;
};

}  // namespace vantrel

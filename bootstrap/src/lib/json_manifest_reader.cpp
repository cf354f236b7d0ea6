#include "lib/json_manifest_reader.hpp"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "lib/internal_fault.hpp"
#include "lib/json_position.hpp"
#include "lib/json_token_cursor.hpp"
#include "lib/quoted_text.hpp"

// Where an error is reported: at the byte where a reader that reads the text
// once, front to back, knows about it. For a syntax error that is the byte that
// breaks the grammar (the end of the text counts as the place after the last
// byte); for trailing data its first byte; for a value of the wrong type or
// range the value's last byte, or its opening bracket when it is an array or
// object; for a repeated key the key's closing quote; for a missing key or an
// array of the wrong length the closing bracket.

namespace vantrel {
namespace {

using Json = nlohmann::json;

// nlohmann's error id for a number beyond the range of a double.
constexpr int number_overflow_id = 406;

// What the next value is read into.
enum class Slot : std::uint8_t { Manifest, Schema, Version, Platforms, Platform, Name, Ignored };

struct Target {
    Slot slot = Slot::Ignored;
    std::uint8_t field = 0;  // which platform or which name
};

struct Field {
    std::string_view key;
    Target target;
};

// A record's fields in order; its array form lists their values in this order.
struct Record {
    std::string_view name;
    std::span<const Field> fields;
    bool fields_required;
};

constexpr std::array manifest_fields{
    Field{"schema", {Slot::Schema}},
    Field{"version", {Slot::Version}},
    Field{"platforms", {Slot::Platforms}},
};
constexpr std::array platform_fields{
    Field{"windows_x86_64", {Slot::Platform, 0}},
    Field{"linux_x86_64", {Slot::Platform, 1}},
};
constexpr std::array artifact_fields{
    Field{"archive", {Slot::Name, 0}},
    Field{"checksum", {Slot::Name, 1}},
    Field{"signature", {Slot::Name, 2}},
    Field{"checksum_signature", {Slot::Name, 3}},
};
constexpr std::array artifact_names{
    &Artifact::archive,
    &Artifact::checksum,
    &Artifact::signature,
    &Artifact::checksum_signature,
};

constexpr Record manifest_record{"Manifest", manifest_fields, true};
constexpr Record platforms_record{"Platforms", platform_fields, false};
constexpr Record artifact_record{"Artifact", artifact_fields, true};

std::string_view expected_for(Slot slot) {
    switch (slot) {
        case Slot::Manifest:
            return "struct Manifest";
        case Slot::Schema:
            return "u32";
        case Slot::Version:
        case Slot::Name:
            return "a string";
        case Slot::Platforms:
            return "struct Platforms";
        case Slot::Platform:
            return "struct Artifact";
        case Slot::Ignored:
            break;
    }
    internal_fault("json value expected nowhere");
}

// A string value as an error shows it: in quotes, with JSON escapes.

// nlohmann's own description of a syntax error, without its prefix and without
// the raw text it quotes (which may be long or not even UTF-8).
std::string syntax_description(const Json::exception& failure, const std::string& last_token) {
    std::string text = failure.what();
    const std::size_t start = text.find("syntax error");
    if (start == std::string::npos)
        return "syntax error";
    text.erase(0, start);
    const std::string quote = "; last read: '" + last_token + "'";
    if (const std::size_t at = text.find(quote); at != std::string::npos) {
        text.erase(at, quote.size());
    }
    return text;
}

// One open array or object.
struct Frame {
    Frame(const Record* read_as, bool array, Artifact* names = nullptr)
        : record(read_as), is_array(array), artifact(names) {}

    const Record* record;  // null for a value that is skipped
    bool is_array;
    Artifact* artifact;             // where an Artifact record's names go
    std::size_t elements = 0;       // array elements so far
    std::uint32_t fields_seen = 0;  // one bit per record field
    Target pending;                 // the value after an object's last key
    std::set<std::string, std::less<>> keys;
};

// The SAX handler: fills a Manifest as the values arrive and stops at the first
// failure, keeping its detail.
class ManifestReader {
  public:
    explicit ManifestReader(std::string_view text) : text_(text), cursor_(text) {}

    bool null() {
        const JsonSpan span = cursor_.next_token();
        const Target target = take_target();
        if (target.slot == Slot::Ignored || target.slot == Slot::Platform)
            return true;
        return invalid_type("null", target, span.last);
    }

    bool boolean(bool value) {
        const JsonSpan span = cursor_.next_token();
        const Target target = take_target();
        if (target.slot == Slot::Ignored)
            return true;
        return invalid_type(value ? "boolean `true`" : "boolean `false`", target, span.last);
    }

    bool number_integer(Json::number_integer_t value) {
        return number(value >= 0 ? std::optional(static_cast<std::uint64_t>(value)) : std::nullopt,
                      true);
    }
    bool number_unsigned(Json::number_unsigned_t value) { return number(value, true); }
    // Also integers too large for 64 bits, which nlohmann reads as doubles.
    bool number_float(Json::number_float_t, const Json::string_t& text) {
        return number(std::nullopt, text.find_first_of(".eE") == std::string::npos);
    }

    bool string(Json::string_t& value) {
        const JsonSpan span = cursor_.next_token();
        const Target target = take_target();
        switch (target.slot) {
            case Slot::Ignored:
                return true;
            case Slot::Version:
                manifest_.version = std::move(value);
                return true;
            case Slot::Name:
                stack_.back().artifact->*artifact_names[target.field] = std::move(value);
                return true;
            default:
                return invalid_type("string " + quoted_text(value), target, span.last);
        }
    }

    bool binary(Json::binary_t&) { internal_fault("binary value in a JSON text"); }

    bool start_object(std::size_t) { return open(false); }
    bool start_array(std::size_t) { return open(true); }

    bool key(Json::string_t& key) {
        const JsonSpan span = cursor_.next_token();
        Frame& frame = stack_.back();
        if (!frame.keys.insert(key).second) {
            return fail("duplicate field `" + key + "`", span.last);
        }
        frame.pending = {};
        if (frame.record == nullptr)
            return true;
        for (std::size_t i = 0; i < frame.record->fields.size(); ++i) {
            if (frame.record->fields[i].key == key) {
                frame.fields_seen |= 1u << i;
                frame.pending = frame.record->fields[i].target;
            }
        }
        return true;
    }

    bool end_object() {
        const JsonSpan span = cursor_.next_token();
        const Frame& frame = stack_.back();
        if (frame.record != nullptr && frame.record->fields_required) {
            for (std::size_t i = 0; i < frame.record->fields.size(); ++i) {
                if ((frame.fields_seen & (1u << i)) == 0) {
                    return fail("missing field `" + std::string(frame.record->fields[i].key) + "`",
                                span.first);
                }
            }
        }
        return close();
    }

    bool end_array() {
        const JsonSpan span = cursor_.next_token();
        const Frame& frame = stack_.back();
        if (frame.record != nullptr && frame.elements != frame.record->fields.size()) {
            return fail("invalid length " + std::to_string(frame.elements) + ", expected struct " +
                            std::string(frame.record->name) + " with " +
                            std::to_string(frame.record->fields.size()) + " elements",
                        span.first);
        }
        return close();
    }

    // `position` counts the bytes nlohmann has read, the failing one included.
    bool parse_error(std::size_t position, const std::string& last_token,
                     const Json::exception& failure) {
        if (complete_)
            return fail("trailing characters", cursor_.next_significant());
        const std::size_t index = std::min(position > 0 ? position - 1 : 0, text_.size());
        if (failure.id == number_overflow_id)
            return fail("number out of range", index);
        return fail(syntax_description(failure, last_token), index);
    }

    Result<Manifest> finish(bool parsed) && {
        if (failure_)
            return Error::from_composed(Stage::Manifest, std::move(*failure_));
        if (!parsed || !complete_)
            internal_fault("json reader stopped without a failure");
        return std::move(manifest_);
    }

  private:
    // Where the value that has just arrived goes.
    Target take_target() {
        if (stack_.empty())
            return {Slot::Manifest};
        Frame& frame = stack_.back();
        if (!frame.is_array)
            return frame.pending;
        const std::size_t index = frame.elements++;
        if (frame.record != nullptr && index < frame.record->fields.size()) {
            return frame.record->fields[index].target;
        }
        return {};
    }

    bool open(bool is_array) {
        const JsonSpan span = cursor_.next_token();
        const Target target = take_target();
        if (stack_.size() >= json_depth_limit)
            return fail("recursion limit exceeded", span.first);
        switch (target.slot) {
            case Slot::Ignored:
                stack_.emplace_back(nullptr, is_array);
                return true;
            case Slot::Manifest:
                stack_.emplace_back(&manifest_record, is_array);
                return true;
            case Slot::Platforms:
                stack_.emplace_back(&platforms_record, is_array);
                return true;
            case Slot::Platform: {
                std::optional<Artifact>& platform = target.field == 0
                                                        ? manifest_.platforms.windows_x86_64
                                                        : manifest_.platforms.linux_x86_64;
                platform.emplace();
                stack_.emplace_back(&artifact_record, is_array, &*platform);
                return true;
            }
            default:
                return invalid_type(is_array ? "sequence" : "map", target, span.first);
        }
    }

    bool close() {
        stack_.pop_back();
        complete_ = stack_.empty();
        return true;
    }

    bool number(std::optional<std::uint64_t> whole, bool integral) {
        const JsonSpan span = cursor_.next_token();
        const Target target = take_target();
        if (target.slot == Slot::Ignored)
            return true;
        std::string shown = integral ? "integer `" : "floating point `";
        shown += cursor_.text_of(span);
        shown += '`';
        if (target.slot == Slot::Schema && integral) {
            if (whole && *whole <= std::numeric_limits<std::uint32_t>::max()) {
                manifest_.schema = static_cast<std::uint32_t>(*whole);
                return true;
            }
            return fail("invalid value: " + shown + ", expected u32", span.last);
        }
        return invalid_type(shown, target, span.last);
    }

    bool invalid_type(std::string_view shown, Target target, std::size_t index) {
        std::string description = "invalid type: ";
        description += shown;
        description += ", expected ";
        description += expected_for(target.slot);
        return fail(description, index);
    }

    bool fail(std::string_view description, std::size_t index) {
        failure_ = located(description, text_, index);
        return false;
    }

    std::string_view text_;
    JsonTokenCursor cursor_;
    Manifest manifest_{};
    std::vector<Frame> stack_;
    bool complete_ = false;
    std::optional<std::string> failure_;
};

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

Result<Manifest> read_manifest_json(std::string_view text) {
    // nlohmann skips a byte order mark, but it is not JSON white space.
    if (!text.empty() && text.front() == byte_order_mark.front()) {
        const std::string_view reason = text.starts_with(byte_order_mark)
                                            ? "byte order mark is not allowed"
                                            : "invalid literal";
        return Error::from_composed(
            Stage::Manifest,
            located("syntax error while parsing value - " + std::string(reason), text, 0));
    }
    ManifestReader reader(text);
    const bool parsed = Json::sax_parse(text.begin(), text.end(), &reader);
    return std::move(reader).finish(parsed);
}

}  // namespace vantrel

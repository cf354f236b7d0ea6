#include "vantrel-release/store_xml.hpp"

#include <expat.h>

#include <charconv>
#include <memory>

namespace vantrel::release_tool {
namespace {

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using Parser = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

// The text of every element, named by its path from the root ("A/B/C"), handed to
// `on_element` when the element ends. The S3 documents have no mixed content.
class ElementTexts {
  public:
    using Handler = void (*)(void* context, std::string_view path, std::string_view text);

    ElementTexts(Handler on_element, void* context) : on_element_(on_element), context_(context) {}

    // False when the document is not well-formed XML.
    bool parse(std::string_view xml) {
        const Parser parser(XML_ParserCreate(nullptr));
        if (!parser)
            return false;
        XML_SetUserData(parser.get(), this);
        XML_SetElementHandler(parser.get(), on_start, on_end);
        XML_SetCharacterDataHandler(parser.get(), on_text);
        return XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) ==
               XML_STATUS_OK;
    }

  private:
    static void on_start(void* self, const XML_Char* name, const XML_Char**) {
        auto& texts = *static_cast<ElementTexts*>(self);
        texts.ends_.push_back(texts.path_.size());
        texts.path_ += (texts.path_.empty() ? "" : "/") + std::string(name);
        texts.text_.clear();
    }
    static void on_end(void* self, const XML_Char*) {
        auto& texts = *static_cast<ElementTexts*>(self);
        texts.on_element_(texts.context_, texts.path_, texts.text_);
        texts.path_.resize(texts.ends_.back());
        texts.ends_.pop_back();
        texts.text_.clear();
    }
    static void on_text(void* self, const XML_Char* text, int length) {
        static_cast<ElementTexts*>(self)->text_.append(text, static_cast<std::size_t>(length));
    }

    Handler on_element_;
    void* context_;
    std::string path_;
    std::vector<std::size_t> ends_;
    std::string text_;
};

struct ListingState {
    ListingPage page;
    StoredObject current{};
    bool truncated = false;
    bool bad_size = false;
};

void on_listing_element(void* context, std::string_view path, std::string_view text) {
    auto& state = *static_cast<ListingState*>(context);
    if (path == "ListBucketResult/Contents/Key") {
        state.current.key = text;
    } else if (path == "ListBucketResult/Contents/Size") {
        const auto [end, error] =
            std::from_chars(text.data(), text.data() + text.size(), state.current.size);
        state.bad_size |= error != std::errc() || end != text.data() + text.size();
    } else if (path == "ListBucketResult/Contents") {
        state.page.objects.push_back(std::move(state.current));
        state.current = {};
    } else if (path == "ListBucketResult/IsTruncated") {
        state.truncated = text == "true";
    } else if (path == "ListBucketResult/NextContinuationToken") {
        state.page.continuation = text;
    }
}

void on_error_element(void* context, std::string_view path, std::string_view text) {
    auto& error = *static_cast<StoreErrorText*>(context);
    if (path == "Error/Code")
        error.code = text;
    else if (path == "Error/Message")
        error.message = text;
}

}  // namespace

Outcome<ListingPage> parse_listing_page(std::string_view xml) {
    ListingState state;
    ElementTexts texts(on_listing_element, &state);
    if (!texts.parse(xml) || state.bad_size)
        return Failure{"the store's listing is not a ListObjectsV2 answer"};
    if (!state.truncated)
        state.page.continuation.reset();
    else if (!state.page.continuation || state.page.continuation->empty())
        return Failure{"the store's listing is truncated but gives no continuation token"};
    return std::move(state.page);
}

StoreErrorText parse_error_text(std::string_view xml) {
    StoreErrorText error;
    ElementTexts texts(on_error_element, &error);
    if (!texts.parse(xml))
        return {};
    return error;
}

}  // namespace vantrel::release_tool

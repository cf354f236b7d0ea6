#include "vantrel-release/https_client.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "lib/download_rules.hpp"
#include "vantrel-release/curl_handles.hpp"

namespace vantrel::release_tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view https_scheme = "https://";
constexpr std::uint16_t default_https_port = 443;
// The setup's receive timeout as the longest stall.
constexpr auto stall_timeout =
    std::chrono::duration_cast<std::chrono::seconds>(download_receive_timeout);

bool is_host_character(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view space = " \t\r\n";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

struct KeptHeader {
    std::string_view name;  // lower case
    std::string Fetched::*field;
};

constexpr std::array<KeptHeader, 4> kept_headers{{
    {"content-type", &Fetched::content_type},
    {"content-encoding", &Fetched::content_encoding},
    {"cache-control", &Fetched::cache_control},
    {"location", &Fetched::location},
}};

// What one transfer collects while it runs.
struct Transfer {
    CURL* curl;
    std::uint64_t limit;
    Clock::time_point started;
    Fetched fetched;
    std::optional<Error> refusal;  // one of the setup's rules stopped the transfer
};

void keep_header(Fetched& fetched, std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    std::string name(trimmed(line.substr(0, colon)));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const KeptHeader& header : kept_headers) {
        if (header.name == name)
            fetched.*header.field = trimmed(line.substr(colon + 1));
    }
}

// The head ends with an empty line: the setup's head rule runs there, before any body.
std::size_t on_header(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        transfer.fetched = Fetched{};  // after an informational answer the real one follows
    } else if (!trimmed(line).empty()) {
        keep_header(transfer.fetched, line);
    } else {
        long status = 0;
        curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
        if (status / 100 == 1)
            return line.size();
        curl_off_t length = -1;
        curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        Fetched& fetched = transfer.fetched;
        fetched.status = static_cast<std::uint32_t>(status);
        if (length >= 0)
            fetched.declared_length = static_cast<std::uint64_t>(length);
        if (Status head =
                check_response_head(fetched.status, fetched.declared_length, transfer.limit);
            !head) {
            transfer.refusal = std::move(head).error();
            return 0;
        }
    }
    return line.size();
}

bool out_of_time(Transfer& transfer) {
    if (!download_time_exceeded(Clock::now() - transfer.started))
        return false;
    transfer.refusal = download_timeout_error();
    return true;
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t chunk = size * count;
    Bytes& body = transfer.fetched.body;
    if (out_of_time(transfer))
        return 0;
    if (exceeds_download_limit(body.size(), chunk, transfer.limit)) {
        transfer.refusal = download_size_error();
        return 0;
    }
    body.insert(body.end(), data, data + chunk);
    return chunk;
}

int on_progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return out_of_time(*static_cast<Transfer*>(context)) ? 1 : 0;
}

}  // namespace

Outcome<HostAddress> parse_host_url(std::string_view url) {
    const Failure refused{"\"" + std::string(url) +
                          "\" is not a download host: give https://HOST or https://HOST:PORT, "
                          "without a path or a query"};
    if (!url.starts_with(https_scheme))
        return refused;
    std::string_view rest = url.substr(https_scheme.size());
    if (rest.ends_with('/'))
        rest.remove_suffix(1);
    const auto colon = rest.find(':');
    const std::string_view host = rest.substr(0, colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), is_host_character))
        return refused;
    HostAddress address{std::string(host), default_https_port};
    if (colon != std::string_view::npos) {
        const std::string_view port = rest.substr(colon + 1);
        const auto [end, error] =
            std::from_chars(port.data(), port.data() + port.size(), address.port);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() ||
            address.port == 0) {
            return refused;
        }
    }
    return address;
}

HttpsClient::HttpsClient(HostAddress address, std::optional<std::string> ca_file)
    : address_(std::move(address)), ca_file_(std::move(ca_file)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

HttpsClient::~HttpsClient() {
    curl_global_cleanup();
}

Fetched HttpsClient::fetch(std::string_view path, std::uint64_t limit) const {
    const auto refused = [](Error error) {
        Fetched fetched;
        fetched.outcome = std::move(error);
        return fetched;
    };
    if (!is_valid_download_path(path))
        return refused(invalid_download_path_error());
    const EasyHandle curl(curl_easy_init());
    if (!curl)
        return refused(connection_failure_error(address_.host, IoError::raised("no libcurl")));

    const std::string url = std::string(https_scheme) + address_.host + ":" +
                            std::to_string(address_.port) + std::string(path);
    const std::string user_agent(download_user_agent);
    // libcurl asks for "Accept: */*" by itself; the setup sends no such header.
    const HeaderList headers(curl_slist_append(nullptr, "Accept:"));
    std::array<char, CURL_ERROR_SIZE> error_text{};
    Transfer transfer{curl.get(), limit, {}, {}, {}};

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    set_transfer_options(handle, stall_timeout, ca_file_, error_text);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    transfer.started = Clock::now();
    const CURLcode code = curl_easy_perform(handle);
    Fetched fetched = std::move(transfer.fetched);
    fetched.elapsed = Clock::now() - transfer.started;
    if (transfer.refusal) {
        fetched.outcome = std::move(*transfer.refusal);
    } else if (code == CURLE_PARTIAL_FILE) {
        fetched.body_cut_short = true;  // the setup takes what arrived as the whole file
    } else if (code != CURLE_OK) {
        fetched.certificate_refused = is_certificate_failure(code);
        const std::string text =
            error_text[0] != '\0' ? error_text.data() : curl_easy_strerror(code);
        fetched.outcome = connection_failure_error(address_.host, IoError::raised(text));
    }
    return fetched;
}

}  // namespace vantrel::release_tool

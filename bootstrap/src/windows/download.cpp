#include "windows/download.hpp"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <optional>
#include <string>

#include "lib/build_settings.hpp"
#include "lib/download_body.hpp"
#include "lib/download_rules.hpp"
#include "windows/wide_text.hpp"
#include "windows/winhttp_error.hpp"
#include "windows/winhttp_handle.hpp"

namespace vantrel {
namespace {

constexpr INTERNET_PORT https_port = 443;
constexpr int resolve_timeout_ms = 10000;
constexpr auto connect_timeout_ms = static_cast<int>(download_connect_timeout.count());
constexpr int send_timeout_ms = 15000;
constexpr auto receive_timeout_ms = static_cast<int>(download_receive_timeout.count());

class ResponseBody final : public BodyChunkSource {
  public:
    explicit ResponseBody(HINTERNET request) : request_(request) {}

    Result<std::size_t> read(std::span<std::uint8_t> buffer) override {
        DWORD count = 0;
        if (!WinHttpReadData(request_, buffer.data(), static_cast<DWORD>(buffer.size()), &count)) {
            return connection_error();
        }
        return std::size_t{count};
    }

  private:
    HINTERNET request_;
};

bool set_number_option(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

// A header as a 32-bit number; nothing when it is absent (GetLastError tells why).
std::optional<DWORD> number_header(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

Error connection_error() {
    return connection_failure_error(download_host(), last_winhttp_error());
}

Result<Bytes> download(std::string_view path, std::uint64_t limit,
                       const DownloadProgressHook& progress) {
    if (!is_valid_download_path(path))
        return invalid_download_path_error();

    // Declared in opening order, so they close as request, connection, session.
    const WinHttpHandle session(WinHttpOpen(to_wide(download_user_agent).c_str(),
                                            WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return connection_error();
    if (!WinHttpSetTimeouts(session.get(), resolve_timeout_ms, connect_timeout_ms, send_timeout_ms,
                            receive_timeout_ms)) {
        return connection_error();
    }
    const WinHttpHandle connection(
        WinHttpConnect(session.get(), to_wide(download_host()).c_str(), https_port, 0));
    if (!connection)
        return connection_error();
    const WinHttpHandle request(
        WinHttpOpenRequest(connection.get(), L"GET", to_wide(path).c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request)
        return connection_error();
    if (!set_number_option(request.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                           WINHTTP_OPTION_REDIRECT_POLICY_NEVER) ||
        !set_number_option(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                           WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION)) {
        return connection_error();
    }

    const auto started = std::chrono::steady_clock::now();
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return connection_error();
    }
    const std::optional<DWORD> status = number_header(request.get(), WINHTTP_QUERY_STATUS_CODE);
    if (!status)
        return connection_error();
    std::optional<std::uint64_t> total;
    if (const auto length = number_header(request.get(), WINHTTP_QUERY_CONTENT_LENGTH)) {
        total = *length;
    }
    if (Status head = check_response_head(*status, total, limit); !head) {
        return std::move(head).error();
    }

    ResponseBody body(request.get());
    return read_body(body, &std::chrono::steady_clock::now, started, limit, total, progress);
}

}  // namespace vantrel

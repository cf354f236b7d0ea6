// Runs one real download from the build's download host and prints what happened, as
// raw bytes with bare line feeds:
//
//   download_client <path as hex of its UTF-8 bytes> <limit>
//
// Every progress call prints "PROGRESS <downloaded> <total or ->". Then success prints
// "OK <size> <sha256 hex>" (exit 0), failure "ERROR <stage>" and the error's display
// form (exit 1). Wrong usage exits 2. The path travels as hex so that any byte,
// including CR, LF and invalid UTF-8, reaches the client unchanged.

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>

#include "lib/digest.hpp"
#include "lib/error.hpp"
#include "lib/standard_streams.hpp"
#include "windows/download.hpp"

namespace {

std::optional<std::string> decode_hex(std::wstring_view hex) {
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::wstring pair(hex.substr(i, 2));
        wchar_t* end = nullptr;
        const unsigned long value = std::wcstoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2)
            return std::nullopt;
        bytes += static_cast<char>(value);
    }
    return bytes;
}

void print_progress(std::uint64_t downloaded, std::optional<std::uint64_t> total) {
    vantrel::write_standard_output("PROGRESS " + std::to_string(downloaded) + " " +
                                   (total ? std::to_string(*total) : "-") + "\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::optional<std::string> path = decode_hex(argv[1]);
    wchar_t* end = nullptr;
    const std::uint64_t limit = std::wcstoull(argv[2], &end, 10);
    if (!path || *end != L'\0')
        return 2;

    vantrel::DownloadProgressHook progress{
        nullptr, [](void*, std::uint64_t downloaded, std::optional<std::uint64_t> total) {
            print_progress(downloaded, total);
        }};
    const vantrel::Result<vantrel::Bytes> body = vantrel::download(*path, limit, progress);
    if (!body) {
        vantrel::write_standard_output("ERROR " +
                                       std::string(vantrel::stage_name(body.error().stage())) +
                                       "\n" + body.error().display() + "\n");
        return 1;
    }
    vantrel::write_standard_output("OK " + std::to_string(body->size()) + " " +
                                   vantrel::lower_hex(vantrel::sha256(*body)) + "\n");
    return 0;
}

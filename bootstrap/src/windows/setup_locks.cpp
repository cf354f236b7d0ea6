#include "windows/setup_locks.hpp"

#include <windows.h>

#include "windows/file_services.hpp"
#include "windows/handle_streams.hpp"
#include "windows/install_layout.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

IoStatus rewind(HANDLE file) {
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN))
        return last_os_error();
    return {};
}

}  // namespace

Result<SetupLock> acquire_lock(const std::wstring& folder, std::wstring_view name, Stage stage) {
    const std::wstring path = join_path(folder, name);
    // Share mode 0 is the whole mechanism: while this handle is open, no other
    // handle of any kind can be opened on the file.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, 0, nullptr));
    if (!file) {
        return Error::from_composed(stage,
                                    std::string(lock_failure_message) + last_os_error().text());
    }
    return SetupLock(std::move(file));
}

IoStatus record_claim(SetupLock& lock, std::string_view name) {
    if (auto rewound = rewind(lock.handle()); !rewound)
        return rewound;
    if (!SetEndOfFile(lock.handle()))
        return last_os_error();
    HandleSink sink(lock.handle());
    if (auto written = sink.write(as_bytes(name)); !written)
        return written;
    if (!FlushFileBuffers(lock.handle()))
        return last_os_error();
    return {};
}

IoResult<Bytes> read_claim(SetupLock& lock) {
    if (auto rewound = rewind(lock.handle()); !rewound)
        return rewound.error();
    HandleSource source(lock.handle());
    return read_limited(source, claim_size_limit);
}

}  // namespace vantrel

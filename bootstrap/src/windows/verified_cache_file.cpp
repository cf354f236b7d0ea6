#include "windows/verified_cache_file.hpp"

#include <windows.h>

#include "lib/verified_cache.hpp"
#include "windows/file_services.hpp"
#include "windows/handle_streams.hpp"
#include "windows/path_components.hpp"
#include "windows/path_safety.hpp"
#include "windows/system_error.hpp"
#include "windows/temp_files.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

IoResult<ReleaseFiles> read_verified_cache(const std::wstring& path) {
    auto file = open_for_reading(path);
    if (!file)
        return std::move(file).error();
    HandleSource source(file->get());
    return read_verified_cache(source);
}

IoStatus write_verified_cache(const std::wstring& path, const ReleaseFiles& files) {
    const std::optional<std::wstring> folder = parent_path(path);
    if (!folder)
        return IoError::raised("Cache path has no folder");
    auto temp = create_temp_file(*folder);
    if (!temp)
        return std::move(temp).error();

    HandleSink sink(temp->handle());
    if (auto written = write_verified_cache_contents(sink, files); !written)
        return written;
    if (!FlushFileBuffers(temp->handle()))
        return last_os_error();
    // The old cache goes first; until the move below there is no cache, which
    // readers take as "download again".
    if (!DeleteFileW(path.c_str()) && !is_missing_error(GetLastError()))
        return last_os_error();
    return persist_temp_file(std::move(*temp), path);
}

}  // namespace vantrel

#include "process/process_system.hpp"

#include "windows/install_layout.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

constexpr DWORD full_sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class WindowsProcessSystem final : public ProcessSystem {
  public:
    IoResult<TempFile> create_capture_file() override {
        auto folder = temporary_folder();
        if (!folder)
            return std::move(folder).error();
        return create_temp_file(*folder);
    }

    IoResult<UniqueHandle> reopen(HANDLE file) override {
        UniqueHandle second(ReOpenFile(file, GENERIC_READ | GENERIC_WRITE, full_sharing, 0));
        if (!second)
            return last_os_error();
        return second;
    }

    IoResult<UniqueHandle> open_null_device() override { return vantrel::open_null_device(); }

    IoResult<ChildProcess> start(const ChildCommand& command) override {
        return start_child(command);
    }

    IoResult<std::optional<std::uint32_t>> exit_code_if_ended(const ChildProcess& child) override {
        return vantrel::exit_code_if_ended(child);
    }

    IoResult<bool> job_still_running(const ChildProcess& child) override {
        return vantrel::job_still_running(child);
    }

    void terminate_and_wait(const ChildProcess& child) override {
        vantrel::terminate_and_wait(child);
    }

    IoResult<std::uint64_t> file_size(const std::wstring& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            return last_os_error();
        }
        return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    IoResult<UniqueHandle> open_for_reading(const std::wstring& path) override {
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, full_sharing, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return last_os_error();
        return file;
    }

    Clock::time_point now() override { return Clock::now(); }

    void sleep(std::chrono::milliseconds duration) override { Sleep(DWORD(duration.count())); }
};

}  // namespace

ProcessSystem& windows_process_system() {
    static WindowsProcessSystem system;
    return system;
}

}  // namespace vantrel

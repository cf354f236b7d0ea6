#include "process/child_process.hpp"

#include <memory>

#include "windows/path_components.hpp"
#include "windows/system_error.hpp"

namespace vantrel {
namespace {

constexpr DWORD terminated_exit_code = 1;
// How long the processes of a terminated job may take to end: 250 times 20 ms.
constexpr int terminated_job_polls = 250;
constexpr DWORD terminated_job_poll_ms = 20;

// The executable quoted as one word, then the arguments.
std::wstring command_line(const ChildCommand& command) {
    std::wstring line = L"\"" + command.executable + L"\"";
    for (const std::wstring_view argument : command.arguments) {
        line += L' ';
        line += argument;
    }
    return line;
}

// Inheritable copies of the standard handles, one per distinct handle: only these
// are handed to the child, so it cannot keep any other handle of the setup open
// (such as a pipe the setup's own output goes to).
class InheritedHandles {
  public:
    IoStatus add(HANDLE source) {
        if (copy_of(source) != nullptr)
            return {};
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE,
                             DUPLICATE_SAME_ACCESS)) {
            return last_os_error();
        }
        entries_.push_back({source, UniqueHandle(copy)});
        copies_.push_back(copy);
        return {};
    }

    HANDLE copy_of(HANDLE source) const {
        for (const Entry& entry : entries_) {
            if (entry.source == source)
                return entry.copy.get();
        }
        return nullptr;
    }
    // Stays in place while the attribute list that names it is used.
    std::vector<HANDLE>& copies() { return copies_; }

  private:
    struct Entry {
        HANDLE source;
        UniqueHandle copy;
    };
    std::vector<Entry> entries_;
    std::vector<HANDLE> copies_;
};

// A process-thread attribute list holding the inherited-handle list.
class AttributeList {
  public:
    IoStatus init(std::vector<HANDLE>& handles) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_ = std::make_unique<unsigned char[]>(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            storage_.reset();
            return last_os_error();
        }
        list_ = list;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                       handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            return last_os_error();
        }
        return {};
    }
    ~AttributeList() {
        if (list_ != nullptr)
            DeleteProcThreadAttributeList(list_);
    }

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

  private:
    std::unique_ptr<unsigned char[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Processes of the job still running.
IoResult<DWORD> active_processes(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, nullptr)) {
        return last_os_error();
    }
    return accounting.ActiveProcesses;
}

// Puts a child created suspended into a new job and lets it run. On failure the child
// is ended before it has run any of its code.
IoResult<UniqueHandle> run_in_own_job(const PROCESS_INFORMATION& started) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job || !AssignProcessToJobObject(job.get(), started.hProcess) ||
        ResumeThread(started.hThread) == DWORD(-1)) {
        const IoError failure = last_os_error();
        TerminateProcess(started.hProcess, terminated_exit_code);
        return failure;
    }
    return job;
}

}  // namespace

IoResult<UniqueHandle> open_null_device() {
    UniqueHandle device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device)
        return last_os_error();
    return device;
}

IoResult<ChildProcess> start_child(const ChildCommand& command) {
    InheritedHandles inherited;
    for (const HANDLE handle : {command.input, command.output, command.error}) {
        if (auto added = inherited.add(handle); !added)
            return std::move(added).error();
    }
    AttributeList attributes;
    if (auto ready = attributes.init(inherited.copies()); !ready)
        return std::move(ready).error();

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inherited.copy_of(command.input);
    startup.StartupInfo.hStdOutput = inherited.copy_of(command.output);
    startup.StartupInfo.hStdError = inherited.copy_of(command.error);
    startup.lpAttributeList = attributes.get();

    std::wstring line = command_line(command);
    // Callers give a full path; a bare name would run in the setup's current folder.
    const std::optional<std::wstring> folder = parent_path(command.executable);
    // Suspended until it is in its job, so that nothing it starts can escape it.
    const DWORD suspended = command.with_descendants ? CREATE_SUSPENDED : 0;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(command.executable.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT | suspended, nullptr,
                        folder && !command.in_current_folder ? folder->c_str() : nullptr,
                        &startup.StartupInfo, &started)) {
        return last_os_error();
    }
    UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    if (!command.with_descendants)
        return ChildProcess(std::move(process));
    auto job = run_in_own_job(started);
    if (!job)
        return std::move(job).error();
    return ChildProcess(std::move(process), std::move(job).value());
}

IoResult<std::optional<std::uint32_t>> exit_code_if_ended(const ChildProcess& child) {
    const DWORD waited = WaitForSingleObject(child.handle(), 0);
    if (waited == WAIT_TIMEOUT)
        return std::optional<std::uint32_t>();
    if (waited != WAIT_OBJECT_0)
        return last_os_error();
    DWORD code = 0;
    if (!GetExitCodeProcess(child.handle(), &code))
        return last_os_error();
    return std::optional<std::uint32_t>(code);
}

IoResult<bool> job_still_running(const ChildProcess& child) {
    if (child.job() == nullptr)
        return false;
    auto running = active_processes(child.job());
    if (!running)
        return std::move(running).error();
    return *running > 0;
}

void terminate_and_wait(const ChildProcess& child) {
    if (child.job() != nullptr)
        TerminateJobObject(child.job(), terminated_exit_code);
    TerminateProcess(child.handle(), terminated_exit_code);
    WaitForSingleObject(child.handle(), INFINITE);
    if (child.job() == nullptr)
        return;
    for (int poll = 0; poll < terminated_job_polls; ++poll) {
        const IoResult<DWORD> running = active_processes(child.job());
        if (!running || *running == 0)
            return;
        Sleep(terminated_job_poll_ms);
    }
}

}  // namespace vantrel

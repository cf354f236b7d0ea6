#include "process/launcher_process.hpp"

#include <optional>
#include <utility>

#include "process/exit_status.hpp"
#include "process/version_answer.hpp"
#include "windows/file_services.hpp"

namespace vantrel {
namespace {

Error installation_failure(const IoError& failure) {
    return Error::from_io(Stage::Installation, failure);
}

Error composed(Stage stage, std::string_view prefix, std::string_view rest) {
    std::string detail(prefix);
    detail += rest;
    return Error::from_composed(stage, std::move(detail));
}

// One of the probe's outputs: the file the setup keeps, and the second handle that
// becomes the child's standard output or error.
struct Capture {
    TempFile file;
    UniqueHandle child_end;
};

IoResult<Capture> open_capture(ProcessSystem& system) {
    auto file = system.create_capture_file();
    if (!file)
        return std::move(file).error();
    auto child_end = system.reopen(file->handle());
    if (!child_end)
        return std::move(child_end).error();
    return Capture{std::move(*file), std::move(*child_end)};
}

// An unreadable size counts as too much: the probe cannot tell what the child does.
bool within_capture_limit(ProcessSystem& system, const Capture& capture) {
    const auto size = system.file_size(capture.file.path());
    return size && *size <= capture_size_limit;
}

IoResult<Bytes> read_capture(ProcessSystem& system, const Capture& capture) {
    auto file = system.open_for_reading(capture.file.path());
    if (!file)
        return std::move(file).error();
    return read_limited(std::move(*file), capture_size_limit);
}

// Waits for the probed child to end, then for what it started, within the time limit.
// Nothing when it had to be stopped.
IoResult<std::optional<std::uint32_t>> await_probe(ProcessSystem& system, const ChildProcess& child,
                                                   const Capture& output, const Capture& errors) {
    const auto started = system.now();
    std::optional<std::uint32_t> exit_code;
    for (;;) {
        if (!exit_code) {
            auto ended = system.exit_code_if_ended(child);
            if (!ended) {
                system.terminate_and_wait(child);
                return std::move(ended).error();
            }
            exit_code = *ended;
        }
        if (exit_code) {
            auto others = system.job_still_running(child);
            if (!others) {
                system.terminate_and_wait(child);
                return std::move(others).error();
            }
            if (!*others)
                return exit_code;
        }
        // The outputs are limited while the launcher itself runs.
        if (system.now() - started > probe_time_limit ||
            (!exit_code &&
             (!within_capture_limit(system, output) || !within_capture_limit(system, errors)))) {
            system.terminate_and_wait(child);
            return std::optional<std::uint32_t>();
        }
        system.sleep(child_poll_interval);
    }
}

}  // namespace

Status probe_launcher_version(const std::wstring& executable, std::string_view version,
                              ProcessSystem& system) {
    auto output = open_capture(system);
    if (!output)
        return installation_failure(output.error());
    auto errors = open_capture(system);
    if (!errors)
        return installation_failure(errors.error());
    // The null device is part of starting the child: it cannot start without one.
    auto input = system.open_null_device();
    if (!input)
        return composed(Stage::Installation, probe_start_failure_prefix, input.error().text());

    // Under Wine a console launcher starts a console host of its own, which keeps the
    // launcher's folder (the run folder of an update) open until it ends, after the
    // launcher: the probe is over only when both have ended.
    auto child = system.start(ChildCommand{executable,
                                           {version_probe_argument},
                                           input->get(),
                                           output->child_end.get(),
                                           errors->child_end.get(),
                                           /*in_current_folder=*/false,
                                           /*with_descendants=*/true});
    if (!child)
        return composed(Stage::Installation, probe_start_failure_prefix, child.error().text());
    input->reset();
    output->child_end.reset();
    errors->child_end.reset();

    const auto exit_code = await_probe(system, *child, *output, *errors);
    if (!exit_code)
        return installation_failure(exit_code.error());
    if (!*exit_code)
        return Error::from_text(Stage::Installation, probe_stopped_message);

    const auto answer = read_capture(system, *output);
    if (!answer)
        return installation_failure(answer.error());
    // Read under the same limit, though what it says is not used.
    if (const auto complaints = read_capture(system, *errors); !complaints) {
        return installation_failure(complaints.error());
    }
    if (!version_answer_matches(*answer, **exit_code, version)) {
        return Error::from_text(Stage::Installation, version_mismatch_message);
    }
    return {};
}

Status probe_launcher_version(const std::wstring& executable, std::string_view version) {
    return probe_launcher_version(executable, version, windows_process_system());
}

Status start_launcher(const std::wstring& executable, ProcessSystem& system) {
    auto null_device = system.open_null_device();
    if (!null_device)
        return composed(Stage::Launch, launch_failure_prefix, null_device.error().text());
    const HANDLE nothing = null_device->get();
    auto child = system.start(ChildCommand{executable, {}, nothing, nothing, nothing});
    if (!child)
        return composed(Stage::Launch, launch_failure_prefix, child.error().text());
    null_device->reset();

    const auto started = system.now();
    for (;;) {
        if (system.now() - started >= launch_survival_time)
            return {};
        const auto ended = system.exit_code_if_ended(*child);
        if (!ended)
            return Error::from_io(Stage::Launch, ended.error());
        if (*ended) {
            return composed(Stage::Launch, closed_immediately_prefix,
                            exit_status_text(**ended) + std::string(closed_immediately_suffix));
        }
        system.sleep(child_poll_interval);
    }
}

Status start_launcher(const std::wstring& executable) {
    return start_launcher(executable, windows_process_system());
}

}  // namespace vantrel

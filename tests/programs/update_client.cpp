// Runs the real launcher update once, with the user's own install layout and the
// build's download host, and prints what it reported, as raw bytes with bare line feeds:
//
//   update_client console|wizard
//
// Each event prints "EVENT <name>" (DownloadStarted adds the version, DownloadProgress
// the downloaded and total byte counts or "-"). Then success prints "OK" (exit 0); a
// failure prints "ERROR <stage>" and the display form in the console form, or
// "FAILED" and the sentence in the wizard form (exit 1). Wrong usage exits 2.

#include <array>
#include <string>
#include <string_view>
#include <variant>

#include "lib/standard_streams.hpp"
#include "lib/update_pipeline.hpp"
#include "windows_installer/windows_update_steps.hpp"

namespace {

constexpr std::array<std::string_view, vantrel::progress_kind_count> kind_names = {
    "CheckingForUpdate", "UpdateCheckDone",   "DownloadStarted",  "DownloadProgress",
    "DownloadFinished",  "Verifying",         "Verified",         "Installing",
    "Installed",         "RestoringPrevious", "PreviousRestored", "StartingLauncher",
    "CacheSaveFailed",
};

class PrintingReporter final : public vantrel::ProgressReporter {
  public:
    void report(const vantrel::ProgressEvent& event) override {
        std::string line = "EVENT " + std::string(kind_names[std::size_t(event.kind())]);
        if (event.kind() == vantrel::ProgressKind::DownloadStarted) {
            line += " " + std::string(event.download_started().version);
        } else if (event.kind() == vantrel::ProgressKind::DownloadProgress) {
            const vantrel::DownloadProgress& progress = event.download_progress();
            line += " " + std::to_string(progress.downloaded) + " " +
                    (progress.total ? std::to_string(*progress.total) : "-");
        }
        vantrel::write_standard_output(line + "\n");
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view form_name = argc == 2 ? argv[1] : L"";
    if (form_name != L"console" && form_name != L"wizard")
        return 2;
    const vantrel::PipelineForm form =
        form_name == L"console" ? vantrel::PipelineForm::Console : vantrel::PipelineForm::Wizard;

    PrintingReporter reporter;
    vantrel::WindowsUpdateSteps steps;
    const vantrel::UpdateResult result = vantrel::update_launcher(reporter, form, steps);
    if (result) {
        vantrel::write_standard_output("OK\n");
        return 0;
    }
    if (const auto* error = std::get_if<vantrel::Error>(&result.error())) {
        vantrel::write_standard_output("ERROR " + std::string(vantrel::stage_name(error->stage())) +
                                       "\n" + error->display() + "\n");
    } else {
        vantrel::write_standard_output(
            "FAILED\n" + std::string(std::get<std::string_view>(result.error())) + "\n");
    }
    return 1;
}

#include "bench/update_bench_steps.hpp"

#include "lib/byte_sink.hpp"
#include "lib/byte_source.hpp"
#include "lib/internal_fault.hpp"
#include "lib/manifest.hpp"
#include "lib/verified_cache.hpp"
#include "vantrel-release/release_builder.hpp"

namespace vantrel::bench {

UpToDateSteps::UpToDateSteps(const BenchRelease& release) : launcher_(release.launcher) {
    manifest_ = release_tool::manifest_json(release.manifest.version,
                                            *release.manifest.platforms.windows_x86_64);
    MemorySink sink(cache_);
    if (!write_verified_cache_contents(sink, release.files))
        internal_fault("bench cache not written");
}

IoError UpToDateSteps::unexpected() {
    return IoError::raised("not a step of an up-to-date run");
}

Result<Bytes> UpToDateSteps::download(std::string_view path, std::uint64_t,
                                      const DownloadProgressHook&) {
    if (path != manifest_path)
        return Error::from_text(Stage::Network, "not a download of an up-to-date run");
    return manifest_;
}

IoResult<ReleaseFiles> UpToDateSteps::read_cache() {
    MemorySource source(cache_);
    return read_verified_cache(source);
}

IoResult<Bytes> UpToDateSteps::read_installed_launcher(std::size_t limit) {
    if (launcher_.size() > limit)
        return IoError::raised("launcher above the limit");
    return launcher_;
}

}  // namespace vantrel::bench

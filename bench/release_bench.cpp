// The setup's verify path on releases of random launchers: the full check with
// extraction at three package sizes, the up-to-date decision from a cache, and the
// whole update of a current launcher at the largest sizes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <variant>

#include "bench/bench_release.hpp"
#include "bench/update_bench_steps.hpp"
#include "lib/byte_sink.hpp"
#include "lib/byte_source.hpp"
#include "lib/digest.hpp"
#include "lib/launcher_package.hpp"
#include "lib/release_verification.hpp"
#include "lib/update_pipeline.hpp"
#include "lib/verified_cache.hpp"

namespace vantrel::bench {
namespace {

constexpr std::int64_t largest_package_mib = 32;
// Long enough that the first iteration's fresh memory pages do not dominate.
constexpr double steady_seconds = 2.0;

// Each size is made once per run, on first use.
const BenchRelease& release_of(std::int64_t mib) {
    static std::map<std::int64_t, std::unique_ptr<BenchRelease>> made;
    auto& release = made[mib];
    if (!release)
        release = std::make_unique<BenchRelease>(
            make_bench_release(static_cast<std::size_t>(mib) * mebibyte));
    return *release;
}

void count_package(benchmark::State& state, const BenchRelease& release) {
    const double package = static_cast<double>(release.files.package.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(release.files.package.size()));
    state.counters["package_MB/s"] = benchmark::Counter(
        package / 1e6 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["package_bytes"] = package;
}

void verify_release_with_extraction(benchmark::State& state) {
    const BenchRelease& release = release_of(state.range(0));
    for (auto _ : state) {
        Result<Bytes> launcher = verify_release(release.manifest, release.files, release.key);
        if (!launcher) {
            state.SkipWithError(launcher.error().display().c_str());
            break;
        }
        benchmark::DoNotOptimize(launcher->data());
    }
    count_package(state, release);
}
BENCHMARK(verify_release_with_extraction)
    ->Arg(1)
    ->Arg(8)
    ->Arg(largest_package_mib)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();

// The parts of the full check at the largest size, to see where its time goes.
template <class Work>
void part_of_check(benchmark::State& state, Work work) {
    const BenchRelease& release = release_of(largest_package_mib);
    for (auto _ : state)
        benchmark::DoNotOptimize(work(release));
    count_package(state, release);
}
BENCHMARK_CAPTURE(part_of_check, sha256,
                  [](const BenchRelease& release) { return sha256(release.files.package); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(part_of_check, blake2b_512,
                  [](const BenchRelease& release) { return blake2b_512(release.files.package); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(part_of_check, extract_launcher,
                  [](const BenchRelease& release) {
                      return extract_launcher(release.files.package).ok();
                  })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The check that ends a run whose launcher is current: the cache read back from
// memory, verified in full, and its launcher compared with the installed one.
void up_to_date_decision(benchmark::State& state) {
    const BenchRelease& release = release_of(largest_package_mib);
    Bytes cache;
    MemorySink sink(cache);
    if (!write_verified_cache_contents(sink, release.files)) {
        state.SkipWithError("cache not written");
        return;
    }
    const Bytes installed = release.launcher;
    for (auto _ : state) {
        MemorySource source(cache);
        IoResult<ReleaseFiles> cached = read_verified_cache(source);
        if (!cached) {
            state.SkipWithError(cached.error().text().c_str());
            break;
        }
        Result<Bytes> launcher = verify_release(release.manifest, *cached, release.key);
        if (!launcher ||
            !std::equal(launcher->begin(), launcher->end(), installed.begin(), installed.end())) {
            state.SkipWithError("cached release not current");
            break;
        }
    }
    count_package(state, release);
}
BENCHMARK(up_to_date_decision)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();

// The whole update of a run whose launcher is current, at the largest sizes the setup
// accepts (32 MiB package, 64 MiB launcher): manifest parse, key, cache decode, full
// verification with extraction and the comparison, through update_launcher itself.
void update_launcher_up_to_date(benchmark::State& state) {
    static const BenchRelease release = make_largest_built_in_key_release();
    UpToDateSteps steps(release);
    class Silent final : public ProgressReporter {
        void report(const ProgressEvent&) override {}
    } reporter;
    for (auto _ : state) {
        const UpdateResult result = update_launcher(reporter, PipelineForm::Wizard, steps);
        if (!result) {
            state.SkipWithError(std::get<std::string_view>(result.error()).data());
            break;
        }
    }
    count_package(state, release);
    state.counters["launcher_bytes"] = static_cast<double>(release.launcher.size());
}
BENCHMARK(update_launcher_up_to_date)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();

}  // namespace
}  // namespace vantrel::bench

BENCHMARK_MAIN();

// The setup's verify path on releases of random launchers at three package sizes and
// on the realistic largest release (a 64 MiB launcher of machine code): the full
// check with extraction, the up-to-date decision from a cache, and the whole update
// of a current launcher.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <climits>
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

const BenchRelease& realistic_release() {
    static const BenchRelease release = make_largest_built_in_key_release();
    return release;
}

const BenchRelease& largest_random_release() {
    return release_of(largest_package_mib);
}

void count_package(benchmark::State& state, const BenchRelease& release) {
    const double package = static_cast<double>(release.files.package.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(release.files.package.size()));
    state.counters["package_MB/s"] = benchmark::Counter(
        package / 1e6 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["package_bytes"] = package;
}

void check_with_extraction(benchmark::State& state, const BenchRelease& release) {
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

void verify_release_with_extraction(benchmark::State& state) {
    check_with_extraction(state, release_of(state.range(0)));
}
BENCHMARK(verify_release_with_extraction)
    ->Arg(1)
    ->Arg(8)
    ->Arg(largest_package_mib)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();

void verify_realistic_release_with_extraction(benchmark::State& state) {
    check_with_extraction(state, realistic_release());
}
BENCHMARK(verify_realistic_release_with_extraction)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();

// The parts of the full check at the largest sizes, to see where its time goes.
template <class Work>
void part_of_check(benchmark::State& state, const BenchRelease& (*release_to_check)(), Work work) {
    const BenchRelease& release = release_to_check();
    for (auto _ : state)
        benchmark::DoNotOptimize(work(release));
    count_package(state, release);
}
BENCHMARK_CAPTURE(part_of_check, sha256, largest_random_release,
                  [](const BenchRelease& release) { return sha256(release.files.package); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(part_of_check, blake2b_512, largest_random_release,
                  [](const BenchRelease& release) { return blake2b_512(release.files.package); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(part_of_check, extract_launcher, largest_random_release,
                  [](const BenchRelease& release) {
                      return extract_launcher(release.files.package).ok();
                  })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(part_of_check, extract_realistic_launcher, realistic_release,
                  [](const BenchRelease& release) {
                      return extract_launcher(release.files.package).ok();
                  })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The check that ends a run whose launcher is current: the cache read back from
// memory, verified in full, and its launcher compared with the installed one.
void up_to_date_decision(benchmark::State& state, const BenchRelease& (*release_to_check)()) {
    const BenchRelease& release = release_to_check();
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
BENCHMARK_CAPTURE(up_to_date_decision, random_32MiB, largest_random_release)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();
BENCHMARK_CAPTURE(up_to_date_decision, realistic, realistic_release)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(steady_seconds)
    ->UseRealTime();

// The whole update of a run whose launcher is current, at the largest launcher the
// setup accepts (64 MiB of machine code): manifest parse, key, cache decode, full
// verification with extraction and the comparison, through update_launcher itself.
void update_launcher_up_to_date(benchmark::State& state) {
    const BenchRelease& release = realistic_release();
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

int main(int argc, char** argv) {
    // glibc maps each block above 32 MiB afresh and unmaps it when freed, so at 64 MiB
    // every iteration would time the kernel's page faults (costly on this kind of
    // machine), not the work: all blocks come from the heap and stay there, as the
    // smaller ones already do.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

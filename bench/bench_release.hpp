#pragma once

#include <cstddef>

#include "lib/bytes.hpp"
#include "lib/manifest.hpp"
#include "lib/public_key.hpp"
#include "lib/release_files.hpp"

namespace vantrel::bench {

inline constexpr std::size_t mebibyte = 1024 * 1024;

// A launcher of random bytes behind an x86-64 PE header: it does not compress, so
// its package is as large as the launcher.
Bytes random_launcher(std::size_t size);

// A random launcher whose package comes within a few hundred bytes of
// `package_size`, without exceeding it.
Bytes launcher_for_package(std::size_t package_size);

// A release as the setup receives it, signed in-process by the publisher's code.
struct BenchRelease {
    Manifest manifest;
    ReleaseFiles files;
    PublicKey key;
    Bytes launcher;
};

BenchRelease make_bench_release(std::size_t package_size);

// The largest launcher the setup accepts made of real machine code: 64 MiB of Wine's
// 64-bit PE libraries behind a launcher header. Its package is about 19 MiB.
Bytes realistic_launcher();

// The realistic launcher's release, signed with the key built into this build, so
// that the whole update can run over it.
BenchRelease make_largest_built_in_key_release();

}  // namespace vantrel::bench

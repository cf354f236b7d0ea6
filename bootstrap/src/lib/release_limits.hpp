#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vantrel {

// Release data is held in memory under these limits and written to disk only
// after verification.
inline constexpr std::size_t manifest_size_limit = 16384;
inline constexpr std::size_t package_size_limit = 33554432;   // 32 MiB
inline constexpr std::size_t companion_size_limit = 16384;    // checksum and signature files
inline constexpr std::size_t launcher_size_limit = 67108864;  // 64 MiB

// The limit of each release file, in artifact order: the package, then its companions.
inline constexpr std::array<std::size_t, 4> release_file_size_limits = {
    package_size_limit, companion_size_limit, companion_size_limit, companion_size_limit};

// The failure text of data longer than the limit it is read under.
inline constexpr std::string_view size_limit_message = "File exceeds setup's size limit";

}  // namespace vantrel

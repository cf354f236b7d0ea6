#pragma once

#include <cstddef>
#include <string_view>

// The layout of a tar archive's header block, shared by the reader and the writer.
namespace vantrel::tar_format {

// An archive is 512-byte blocks; each entry starts with a header block.
inline constexpr std::size_t block_size = 512;

struct Field {
    std::size_t offset;
    std::size_t width;
};
inline constexpr Field name_field{0, 100};
inline constexpr Field mode_field{100, 8};
inline constexpr Field uid_field{108, 8};
inline constexpr Field gid_field{116, 8};
inline constexpr Field size_field{124, 12};
inline constexpr Field mtime_field{136, 12};
inline constexpr Field checksum_field{148, 8};
inline constexpr std::size_t type_flag_offset = 156;
inline constexpr Field magic_field{257, 6};
inline constexpr Field version_field{263, 2};
inline constexpr Field devmajor_field{329, 8};
inline constexpr Field devminor_field{337, 8};
inline constexpr Field prefix_field{345, 155};

// The POSIX ustar magic, its NUL included.
inline constexpr std::string_view posix_magic("ustar\0", 6);

}  // namespace vantrel::tar_format

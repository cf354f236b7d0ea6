#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "lib/error.hpp"
#include "lib/result.hpp"

namespace vantrel {

inline constexpr std::string_view download_user_agent = "VantrelSetup/0.1";
inline constexpr std::size_t download_chunk_size = 16384;
// Measured from just before the request is sent; checked before every read.
inline constexpr std::chrono::seconds download_time_limit{60};
// How long a connection may take to open, and the longest wait for the next piece of an answer.
inline constexpr std::chrono::milliseconds download_connect_timeout{10000};
inline constexpr std::chrono::milliseconds download_receive_timeout{15000};

// Only paths under the release root, and none that could carry a query, a fragment,
// a Windows separator, a header break or a NUL. Invalid UTF-8 is refused as well.
bool is_valid_download_path(std::string_view path);

Error invalid_download_path_error();
Error download_size_error();
Error download_timeout_error();

// A failed platform call: the host and the system's text for its error code.
Error connection_failure_error(std::string_view host, const IoError& system_failure);

// Status 200 only; a declared length above the limit is refused before any body is read.
Status check_response_head(std::uint32_t status, std::optional<std::uint64_t> content_length,
                           std::uint64_t limit);

// Whether a chunk on top of what has already arrived would pass the limit.
bool exceeds_download_limit(std::uint64_t received, std::uint64_t chunk, std::uint64_t limit);

// Exactly the limit still passes.
bool download_time_exceeded(std::chrono::steady_clock::duration elapsed);

}  // namespace vantrel

#pragma once

#include <string>
#include <string_view>

#include "lib/bytes.hpp"
#include "lib/result.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {

inline constexpr std::string_view lock_failure_message =
    "Another setup may be running, or the install folder is not writable. ";
// The bootstrap lock's claim is a folder name; anything longer is not one.
inline constexpr std::size_t claim_size_limit = 16384;

// A held setup lock: an open handle on the lock file that admits no second opener.
// Released by letting go of it (also when the process ends).
class SetupLock {
  public:
    explicit SetupLock(UniqueHandle handle) : handle_(std::move(handle)) {}

    HANDLE handle() const { return handle_.get(); }

  private:
    UniqueHandle handle_;
};

// Opens folder + name (created when missing, never truncated) with share mode 0.
// Fails at once, with the given stage, when another handle has it open.
Result<SetupLock> acquire_lock(const std::wstring& folder, std::wstring_view name, Stage stage);

// Replaces the lock file's content with name (a recovery folder's name) and
// flushes it to disk.
IoStatus record_claim(SetupLock& lock, std::string_view name);

// The whole content of the lock file, read from its start through the lock's handle.
IoResult<Bytes> read_claim(SetupLock& lock);

}  // namespace vantrel

#pragma once

#include <windows.h>
#include <winhttp.h>

#include <utility>

namespace vantrel {

// Owns a WinHTTP session, connection or request handle and closes it on every path.
class WinHttpHandle {
  public:
    WinHttpHandle() = default;
    explicit WinHttpHandle(HINTERNET handle) : handle_(handle) {}
    ~WinHttpHandle() { reset(); }

    WinHttpHandle(WinHttpHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    WinHttpHandle& operator=(WinHttpHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    HINTERNET get() const { return handle_; }

    void reset() {
        if (handle_ != nullptr)
            WinHttpCloseHandle(std::exchange(handle_, nullptr));
    }

  private:
    HINTERNET handle_ = nullptr;
};

}  // namespace vantrel

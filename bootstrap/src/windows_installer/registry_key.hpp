#pragma once

#include <windows.h>

#include <utility>

namespace vantrel {

// Owns an open registry key and closes it on every path.
class RegistryKey {
  public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() { reset(); }

    RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        if (this != &other) {
            reset();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return key_; }

    // Closes the key now rather than at the end of the scope.
    void reset() {
        if (key_ != nullptr)
            RegCloseKey(std::exchange(key_, nullptr));
    }

  private:
    HKEY key_;
};

}  // namespace vantrel

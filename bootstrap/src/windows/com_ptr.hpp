#pragma once

#include <windows.h>

#include <unknwn.h>

#include <utility>

namespace vantrel {

// Owns one reference to a COM interface and releases it on every path.
template <class Interface>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { reset(); }

    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // The out-parameter of a call that hands over a new reference.
    Interface** put() {
        reset();
        return &pointer_;
    }

    void reset() {
        if (pointer_ != nullptr)
            std::exchange(pointer_, nullptr)->Release();
    }

    // QueryInterface for another interface of the same object.
    template <class Other>
    HRESULT query(ComPtr<Other>& other) const {
        return pointer_->QueryInterface(__uuidof(Other), reinterpret_cast<void**>(other.put()));
    }

  private:
    Interface* pointer_ = nullptr;
};

}  // namespace vantrel

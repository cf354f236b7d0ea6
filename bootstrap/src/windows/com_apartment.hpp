#pragma once

#include "windows/com_error.hpp"

namespace vantrel {

// The calling thread's membership of a single-threaded COM apartment, balanced by
// CoUninitialize when let go of. Entering nests: a thread that is already in a
// single-threaded apartment gets S_FALSE, which counts as success and is balanced
// the same way. A thread in the multithreaded apartment fails with
// RPC_E_CHANGED_MODE, and a failed entry has nothing to balance.
class ComApartment {
  public:
    static ComResult<ComApartment> enter_single_threaded();

    ~ComApartment();
    ComApartment(ComApartment&& other) noexcept;
    ComApartment& operator=(ComApartment&&) = delete;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    ComApartment() = default;

    bool entered_ = true;
};

}  // namespace vantrel

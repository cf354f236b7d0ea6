#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "lib/result.hpp"

namespace vantrel {

// A failed COM call, by its HRESULT. Every negative HRESULT is a failure; S_FALSE
// and the other non-negative codes are successes.
struct ComFailure {
    HRESULT code;
};

template <class T>
using ComResult = BasicResult<T, ComFailure>;

// The step's message, then " (Windows error 0x", the HRESULT's 32 bits as 8
// lower-case hexadecimal digits, and ")." to close it.
std::string com_failure_text(std::string_view message, HRESULT code);

}  // namespace vantrel

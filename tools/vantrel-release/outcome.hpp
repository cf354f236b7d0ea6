#pragma once

#include <string>
#include <utility>

#include "lib/error.hpp"
#include "lib/result.hpp"

namespace vantrel::release_tool {

// A failure of the release tool, in words for the publisher.
struct Failure {
    std::string message;
};

template <class T>
using Outcome = BasicResult<T, Failure>;
using Done = Outcome<void>;

// A stage error of the setup's own code keeps the display form the setup shows.
inline Failure failure_of(const Error& error) {
    return {error.display()};
}

}  // namespace vantrel::release_tool

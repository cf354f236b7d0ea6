#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "lib/error.hpp"
#include "lib/result.hpp"

namespace vantrel::testing {

inline constexpr std::string_view injected_failure = "injected failure";

inline IoError injected() {
    return IoError::raised(std::string(injected_failure));
}

inline Error injected(Stage stage) {
    return Error::from_text(stage, injected_failure);
}

// The named steps a test makes fail, each as the real step would: a plain file
// step with a system failure, a step with a stage of its own with that stage.
class ScriptedFailures {
  public:
    void fail(std::vector<std::string> steps) { failing_ = std::move(steps); }

    bool failing(std::string_view step) const {
        return std::find(failing_.begin(), failing_.end(), step) != failing_.end();
    }

    template <class Call>
    auto unless_failing(std::string_view step, Stage stage, Call&& call) -> decltype(call()) {
        using Outcome = decltype(call());
        if (!failing(step))
            return call();
        if constexpr (std::is_constructible_v<Outcome, IoError>) {
            return Outcome(injected());
        } else {
            return Outcome(injected(stage));
        }
    }

  private:
    std::vector<std::string> failing_;
};

}  // namespace vantrel::testing

#pragma once

#include <string_view>

#include "lib/error.hpp"

namespace vantrel {

// The ways a minisign key or signature can be refused. Their messages follow the
// signing tool's wording and carry no final period.
enum class SignatureFailure {
    InvalidEncoding,
    UnsupportedAlgorithm,
    DifferentKey,
    LegacyAlgorithm,
    VerificationFailed,
};

std::string_view signature_failure_message(SignatureFailure failure);

// A stage error of stage Verification with the failure's message.
Error signature_error(SignatureFailure failure);

}  // namespace vantrel

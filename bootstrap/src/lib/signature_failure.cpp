#include "lib/signature_failure.hpp"

#include "lib/internal_fault.hpp"

namespace vantrel {

std::string_view signature_failure_message(SignatureFailure failure) {
    switch (failure) {
        case SignatureFailure::InvalidEncoding:
            return "Invalid encoding in minisign data";
        case SignatureFailure::UnsupportedAlgorithm:
            return "This signature algorithm is not supported by this implementation";
        case SignatureFailure::DifferentKey:
            return "The signature was created with a different key than the one provided";
        case SignatureFailure::LegacyAlgorithm:
            return "Unexpected signature algorithm";
        case SignatureFailure::VerificationFailed:
            return "The signature verification failed";
    }
    internal_fault("signature failure out of range");
}

Error signature_error(SignatureFailure failure) {
    return Error::from_text(Stage::Verification, signature_failure_message(failure));
}

}  // namespace vantrel

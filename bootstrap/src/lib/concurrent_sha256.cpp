#include "lib/concurrent_sha256.hpp"

#include <system_error>

namespace vantrel {

ConcurrentSha256::ConcurrentSha256(ByteView data) : data_(data) {
    try {
        worker_ = std::jthread(
            [this](const std::stop_token& stop) { digest_ = sha256_unless_stopped(data_, stop); });
    } catch (const std::system_error&) {
        // No thread to be had: digest() does the work itself.
    }
}

Sha256Digest ConcurrentSha256::digest() {
    if (worker_.joinable())
        worker_.join();
    if (!digest_)
        digest_ = sha256(data_);
    return *digest_;
}

}  // namespace vantrel

#pragma once

#include <thread>

#include "lib/bytes.hpp"
#include "lib/digest.hpp"

namespace vantrel {

// The SHA-256 of data, worked out on a thread of its own from construction on, so
// that it overlaps other work over the same data. Destruction stops the thread
// within a chunk and joins it, on every path. Where no thread can be started, the
// digest is worked out when it is asked for.
class ConcurrentSha256 {
  public:
    // The data must outlive the object.
    explicit ConcurrentSha256(ByteView data);
    ConcurrentSha256(const ConcurrentSha256&) = delete;
    ConcurrentSha256& operator=(const ConcurrentSha256&) = delete;

    // Waits for the thread, once; later calls give the same digest.
    Sha256Digest digest();

  private:
    ByteView data_;
    std::optional<Sha256Digest> digest_;
    // Last, so that it stops and joins before the members it writes go away.
    std::jthread worker_;
};

}  // namespace vantrel

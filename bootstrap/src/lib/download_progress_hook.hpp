#pragma once

#include <cstdint>
#include <optional>

namespace vantrel {

// What a download reports as the body arrives: the bytes received so far and the
// length the server announced, if it gave a numeric one. The client never looks at
// what the hook does; a hook without a function does nothing.
struct DownloadProgressHook {
    using Function = void (*)(void* context, std::uint64_t downloaded,
                              std::optional<std::uint64_t> total);

    void* context = nullptr;
    Function function = nullptr;

    void operator()(std::uint64_t downloaded, std::optional<std::uint64_t> total) const {
        if (function != nullptr)
            function(context, downloaded, total);
    }
};

// A hook that calls receiver(downloaded, total); receiver must outlive the download.
template <class Receiver>
DownloadProgressHook progress_hook_for(Receiver& receiver) {
    return {&receiver,
            [](void* context, std::uint64_t downloaded, std::optional<std::uint64_t> total) {
                (*static_cast<Receiver*>(context))(downloaded, total);
            }};
}

}  // namespace vantrel

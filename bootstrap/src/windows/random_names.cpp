#include "windows/random_names.hpp"

#include <windows.h>

#include <ntsecapi.h>

#include <array>
#include <cstring>

namespace vantrel {
namespace {

using ProcessPrngFunction = BOOL(WINAPI*)(PBYTE data, SIZE_T size);

// Not every system has bcryptprimitives.dll's ProcessPrng (Wine 8 lacks it), so it
// is looked up at run time. The module stays loaded for the process's lifetime.
ProcessPrngFunction process_prng() {
    static const ProcessPrngFunction function = []() -> ProcessPrngFunction {
        const HMODULE module =
            LoadLibraryExW(L"bcryptprimitives.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr)
            return nullptr;
        const FARPROC address = GetProcAddress(module, "ProcessPrng");
        if (address == nullptr)
            return nullptr;
        return reinterpret_cast<ProcessPrngFunction>(reinterpret_cast<void (*)()>(address));
    }();
    return function;
}

// SplitMix64: fast and good enough for names whose uniqueness the file system checks.
class FastNames final : public NameSource {
  public:
    FastNames() : state_(cheap_seed()) {}

    std::wstring next() override {
        std::wstring name(random_name_length, L'\0');
        for (wchar_t& c : name)
            c = random_name_alphabet[step() % random_name_alphabet.size()];
        return name;
    }

    void reseed() override {
        std::array<std::uint8_t, sizeof(std::uint64_t)> bytes{};
        if (!system_random(bytes)) {
            // Still moves away from the names that collided.
            state_ ^= cheap_seed();
            return;
        }
        std::memcpy(&state_, bytes.data(), bytes.size());
    }

  private:
    std::uint64_t step() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Distinct per process, thread and moment; the system source is only needed
    // once names start colliding.
    static std::uint64_t cheap_seed() {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const std::uint64_t ids =
            std::uint64_t(GetCurrentProcessId()) << 32 | std::uint64_t(GetCurrentThreadId());
        return std::uint64_t(counter.QuadPart) * 0x9E3779B97F4A7C15ull ^ ids;
    }

    std::uint64_t state_;
};

}  // namespace

NameSource& random_names() {
    thread_local FastNames names;
    return names;
}

bool system_random(std::span<std::uint8_t> bytes) {
    if (const ProcessPrngFunction prng = process_prng(); prng != nullptr) {
        if (prng(bytes.data(), bytes.size()))
            return true;
    }
    // advapi32.dll, unlike bcrypt.dll, is a KnownDLL: always the system's own.
    return bytes.size() <= ULONG_MAX &&
           RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size()));
}

}  // namespace vantrel

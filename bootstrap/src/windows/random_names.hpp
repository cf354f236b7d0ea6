#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

// The random part of every temporary name: 6 letters or digits.
inline constexpr std::wstring_view random_name_alphabet =
    L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
inline constexpr std::size_t random_name_length = 6;

// Where the random parts of temporary names come from. Tests substitute sources
// that collide on purpose.
class NameSource {
  public:
    virtual ~NameSource() = default;

    // random_name_length characters of random_name_alphabet.
    virtual std::wstring next() = 0;
    // Called after repeated collisions: another process may be drawing the same names.
    virtual void reseed() = 0;
};

// The calling thread's fast generator, cheaply seeded at first use.
NameSource& random_names();

// Fills bytes from the system random source (ProcessPrng where the system has it,
// otherwise RtlGenRandom). False when both failed.
bool system_random(std::span<std::uint8_t> bytes);

}  // namespace vantrel

#pragma once

// How the fixture launcher behaves, shared by the program and the tests that start
// it. The probe runs it with exactly "--version" and the launch with no argument,
// so the behaviour comes from the environment, which children inherit.

#include <cstddef>
#include <string_view>

namespace vantrel::testing::fixture_launcher {

inline constexpr std::wstring_view mode_variable = L"VANTREL_FIXTURE_LAUNCHER_MODE";

// The version it claims to be, and the size of its oversized outputs (5 KiB).
inline constexpr std::string_view version = "2.7.0-rc.1+build.5";
inline constexpr std::size_t oversized_output = 5 * 1024;

// With --version: the right answer and a Windows line end, exit code 0. Without
// arguments: keeps running for three seconds. Either way it first checks that it
// got the arguments it should and runs in its own folder; otherwise it exits at
// once with code 3 and says why.
inline constexpr std::wstring_view answer = L"answer";
inline constexpr std::wstring_view leading_v = L"leading-v";  // "vantrel-launcher v" + version
inline constexpr std::wstring_view bare_version = L"bare-version";  // version only
inline constexpr std::wstring_view exit_1 = L"exit-1";              // the answer, exit code 1
inline constexpr std::wstring_view big_stdout = L"big-stdout";      // 5 KiB of output, exit 0
inline constexpr std::wstring_view big_stderr = L"big-stderr";      // the answer + 5 KiB of errors
inline constexpr std::wstring_view flood_stdout = L"flood-stdout";  // writes output without end
inline constexpr std::wstring_view flood_stderr = L"flood-stderr";  // writes errors without end
inline constexpr std::wstring_view hang = L"hang";                  // never ends
inline constexpr std::wstring_view read_input = L"read-input";    // reads input to its end, answers
inline constexpr std::wstring_view half_second = L"half-second";  // exits with 0 after 500 ms
inline constexpr std::wstring_view crash = L"crash";              // access violation at once
inline constexpr std::wstring_view exit_on_start =
    L"exit-on-start";  // answers; a start exits at once

inline constexpr int wrong_start_exit_code = 3;

// A copy of the fixture can carry a release of its own in a trailer after the image,
// which the loader ignores: this marker, the version it answers, one space, a mode
// (empty for the answer) and a line feed. The trailer's mode wins over the
// environment's, so that the old and the new launcher of one test can differ.
inline constexpr std::string_view trailer_marker = "\nvantrel-fixture-release ";
inline constexpr std::size_t trailer_search_size = 512;

}  // namespace vantrel::testing::fixture_launcher

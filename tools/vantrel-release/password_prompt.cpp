#include "vantrel-release/password_prompt.hpp"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "lib/standard_streams.hpp"

namespace vantrel::release_tool {
namespace {

constexpr std::size_t password_limit = 4096;

// Turns the terminal's echo off for its lifetime.
class EchoOff {
  public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
            write_standard_error("\n");
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

Outcome<std::string> read_password() {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    if (terminal)
        write_standard_error("Password: ");
    std::optional<EchoOff> echo_off;
    if (terminal)
        echo_off.emplace();

    // Byte by byte, so that nothing after the line is taken from the input.
    std::string password;
    for (;;) {
        char byte = 0;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure{"the password could not be read"};
        if (got == 0 || byte == '\n')
            break;
        if (password.size() == password_limit)
            return Failure{"the password is too long"};
        password += byte;
    }
    if (password.empty())
        return Failure{"no password given for the encrypted secret key"};
    return password;
}

}  // namespace vantrel::release_tool

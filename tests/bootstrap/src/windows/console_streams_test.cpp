#include "windows/console_streams.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "support/windows_test_support.hpp"
#include "windows/unique_handle.hpp"

namespace vantrel {
namespace {

using testing::read_file;
using testing::ScratchFolder;

// Puts a handle in place of a standard handle and puts the old one back.
class StdHandleSwap {
  public:
    StdHandleSwap(DWORD which, HANDLE handle) : which_(which), saved_(GetStdHandle(which)) {
        SetStdHandle(which_, handle);
    }
    ~StdHandleSwap() { SetStdHandle(which_, saved_); }
    StdHandleSwap(const StdHandleSwap&) = delete;
    StdHandleSwap& operator=(const StdHandleSwap&) = delete;

  private:
    DWORD which_;
    HANDLE saved_;
};

UniqueHandle open_file(const std::wstring& path, DWORD access, DWORD disposition) {
    return UniqueHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// What a test puts at standard input: the end it reads, and a pipe's other end.
struct Handles {
    UniqueHandle read;
    UniqueHandle write;
};

Handles anonymous_pipe() {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0))
        return {};
    return {UniqueHandle(read), UniqueHandle(write)};
}

// The client end of a named pipe, as a terminal hands it to a program.
Handles named_pipe(const std::wstring& name) {
    const std::wstring path = L"\\\\.\\pipe\\" + name + std::to_wstring(GetCurrentProcessId());
    UniqueHandle server(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1,
                                         4096, 4096, 0, nullptr));
    return {open_file(path, GENERIC_READ, OPEN_EXISTING), std::move(server)};
}

const std::string sample = "Downloading v1.0... \u2588\u2500 d\u00e9j\u00e0";

TEST(ConsoleStreamsTest, RedirectedStreamsGetTheUtf8BytesUnchanged) {
    struct Case {
        DWORD which;
        StandardStreamId id;
        std::string text;
        bool shown_before_flush;
    };
    // clang-format off
    const Case cases[] = {
        {STD_OUTPUT_HANDLE, StandardStreamId::Output, "\r\x1b[2K" + sample, false},
        {STD_OUTPUT_HANDLE, StandardStreamId::Output, sample + "\r\n" + sample, true},
        {STD_ERROR_HANDLE, StandardStreamId::Error, "\r\x1b[2K" + sample, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        ScratchFolder scratch;
        const std::wstring path = scratch.file(L"redirected.txt");
        const UniqueHandle file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
        ASSERT_TRUE(file);
        const StdHandleSwap swap(c.which, file.get());

        StandardStream stream(c.id);
        stream.write(c.text);
        EXPECT_EQ(read_file(path), c.shown_before_flush ? c.text : "") << c.text;
        stream.flush();
        EXPECT_EQ(read_file(path), c.text);
    }
}

TEST(ConsoleStreamsTest, ConsoleShowsTheTextWhateverItsCodePage) {
    const UniqueHandle console = open_file(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (!console)
        GTEST_SKIP() << "the process has no console (under Wine: run it from a terminal)";
    const UINT saved_code_page = GetConsoleOutputCP();
    const StdHandleSwap swap(STD_OUTPUT_HANDLE, console.get());

    const std::wstring expected = L"Downloading v1.0... \u2588\u2500 d\u00e9j\u00e0";
    for (const UINT code_page : {437u, 1252u, unsigned{CP_UTF8}}) {
        ASSERT_TRUE(SetConsoleOutputCP(code_page)) << code_page;
        CONSOLE_SCREEN_BUFFER_INFO before{};
        ASSERT_TRUE(GetConsoleScreenBufferInfo(console.get(), &before));

        StandardStream(StandardStreamId::Output).write("\r" + sample + "\n");

        std::wstring shown(expected.size(), L'\0');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(console.get(), shown.data(), static_cast<DWORD>(shown.size()),
                                    COORD{0, before.dwCursorPosition.Y}, &read);
        shown.resize(read);
        EXPECT_EQ(shown, expected) << "code page " << code_page;
    }
    SetConsoleOutputCP(saved_code_page);
}

TEST(ConsoleStreamsTest, TerminalTestOfStandardInput) {
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"input.txt");
    testing::write_file(file, "\n");
    struct Case {
        std::string_view name;
        std::function<Handles()> make;
        bool terminal;
    };
    // clang-format off
    const Case cases[] = {
        {"a redirected file", [&] { return Handles{open_file(file, GENERIC_READ, OPEN_EXISTING), {}}; }, false},
        {"an anonymous pipe", anonymous_pipe, false},
        {"an MSYS terminal's pipe", [] { return named_pipe(L"msys-1888ae32e00d56aa-pty0-from-master-"); }, true},
        {"a Cygwin terminal's pipe", [] { return named_pipe(L"cygwin-e022582115c10879-pty4-to-master-"); }, true},
        {"an MSYS program's plain pipe", [] { return named_pipe(L"msys-1888ae32e00d56aa-pipe-"); }, false},
        {"another named pipe", [] { return named_pipe(L"vantrel-test-pty0-"); }, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        const Handles input = c.make();
        ASSERT_TRUE(input.read) << c.name;
        const StdHandleSwap swap(STD_INPUT_HANDLE, input.read.get());
        EXPECT_EQ(StandardInput().is_terminal(), c.terminal) << c.name;
    }
    const StdHandleSwap none(STD_INPUT_HANDLE, nullptr);
    EXPECT_FALSE(StandardInput().is_terminal()) << "no handle";
}

TEST(ConsoleStreamsTest, ReadLineTakesOneLineOnly) {
    for (const std::string_view input : {"yes\r\nsecond line", "no line feed"}) {
        Handles pipe = anonymous_pipe();
        DWORD count = 0;
        ASSERT_TRUE(WriteFile(pipe.write.get(), input.data(), static_cast<DWORD>(input.size()),
                              &count, nullptr));
        pipe.write.reset();  // the input ends after the text
        const StdHandleSwap swap(STD_INPUT_HANDLE, pipe.read.get());

        StandardInput().read_line();

        std::string left(64, '\0');
        if (!ReadFile(pipe.read.get(), left.data(), static_cast<DWORD>(left.size()), &count,
                      nullptr)) {
            count = 0;
        }
        left.resize(count);
        EXPECT_EQ(left, input.ends_with("second line") ? "second line" : "") << input;
    }
}

}  // namespace
}  // namespace vantrel

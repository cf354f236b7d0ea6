// Answers a message box the way a user would, for the end-to-end tests of the
// uninstall roles, which talk to the user only through message boxes.
//
//   message_box_driver answer <caption> <yes|no|ok|cancel> <seconds> [<text start>]
//
// Waits up to the given number of seconds for a top-level dialog (class "#32770")
// with that caption (and, when given, a text that begins so), reads what it shows, presses the
// button (BM_CLICK on it) and then waits, as long again, for the process that showed the box to
// end. Prints one line of JSON (UTF-8):
//
//   {"text": "...", "buttons": [{"id": 6, "text": "&Yes", "default": false}, ...],
//    "exit_code": 0, "next_box": false}
//
// "default" is the button with the BS_DEFPUSHBUTTON style (Wine answers DM_GETDEFID
// with IDOK whatever the default is); "exit_code" is null when the process did not
// end in time. When the process shows another box instead of ending, "exit_code" is
// null and "next_box" true. Exit code 0 when the box was answered and its process
// ended or showed its next box, 2 for wrong usage, 4 when no such box appeared in
// time, 5 when it has no such button, 6 when its process did neither in time.

#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "windows/wide_text.hpp"

namespace {

void say(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
}

std::string json_string(std::wstring_view text) {
    return nlohmann::json(vantrel::from_wide(text).value_or("(not valid UTF-16)")).dump();
}

std::wstring window_text(HWND window) {
    std::wstring text(4096, L'\0');
    const int length = GetWindowTextW(window, text.data(), int(text.size()));
    text.resize(std::size_t(length > 0 ? length : 0));
    return text;
}

std::wstring class_name(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, std::size_t(length > 0 ? length : 0));
}

struct Control {
    int id;
    std::wstring kind;
    std::wstring text;
    LONG_PTR style;
};

BOOL CALLBACK collect(HWND child, LPARAM context) {
    auto& controls = *reinterpret_cast<std::vector<Control>*>(context);
    controls.push_back({GetDlgCtrlID(child), class_name(child), window_text(child),
                        GetWindowLongPtrW(child, GWL_STYLE)});
    return TRUE;
}

bool ci_equal(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && CompareStringOrdinal(a.data(), int(a.size()), b.data(),
                                                        int(b.size()), TRUE) == CSTR_EQUAL;
}

int button_id(std::wstring_view name) {
    if (name == L"yes")
        return IDYES;
    if (name == L"no")
        return IDNO;
    if (name == L"ok")
        return IDOK;
    if (name == L"cancel")
        return IDCANCEL;
    return 0;
}

// The text of a message box: its static control with the ID 0xFFFF.
std::wstring box_text(HWND box) {
    const HWND text = GetDlgItem(box, 0xFFFF);
    return text != nullptr ? window_text(text) : std::wstring();
}

struct Search {
    std::wstring caption;
    std::wstring text_start;
    HWND found = nullptr;
};

BOOL CALLBACK match(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    if (class_name(window) == L"#32770" && IsWindowVisible(window) &&
        window_text(window) == search.caption && box_text(window).starts_with(search.text_start)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

struct Owner {
    DWORD process_id;
    bool found = false;
};

BOOL CALLBACK owned_box(HWND window, LPARAM context) {
    auto& owner = *reinterpret_cast<Owner*>(context);
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id == owner.process_id && class_name(window) == L"#32770" &&
        IsWindowVisible(window)) {
        owner.found = true;
        return FALSE;
    }
    return TRUE;
}

// Whether the process shows a dialog.
bool showing_a_box(DWORD process_id) {
    Owner owner{process_id};
    EnumWindows(owned_box, reinterpret_cast<LPARAM>(&owner));
    return owner.found;
}

HWND wait_for_box(Search& search, ULONGLONG deadline) {
    for (;;) {
        search.found = nullptr;
        EnumWindows(match, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        if (GetTickCount64() >= deadline)
            return nullptr;
        Sleep(50);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int button = argc == 5 || argc == 6 ? button_id(argv[3]) : 0;
    if (button == 0 || std::wcscmp(argv[1], L"answer") != 0) {
        say("usage: message_box_driver answer <caption> <yes|no|ok|cancel> <seconds> "
            "[<text start>]");
        return 2;
    }
    const ULONGLONG timeout = ULONGLONG(std::wcstoul(argv[4], nullptr, 10)) * 1000;
    Search search{argv[2], argc == 6 ? argv[5] : L""};
    const HWND box = wait_for_box(search, GetTickCount64() + timeout);
    if (box == nullptr) {
        say("{\"error\": \"no message box\"}");
        return 4;
    }
    // Give the box a moment to finish laying itself out before it is read.
    Sleep(200);

    std::vector<Control> controls;
    EnumChildWindows(box, collect, reinterpret_cast<LPARAM>(&controls));
    std::wstring text;
    std::string buttons;
    for (const Control& control : controls) {
        if (ci_equal(control.kind, L"Button")) {
            const bool is_default = (control.style & 0x0F) == BS_DEFPUSHBUTTON;
            if (!buttons.empty())
                buttons += ", ";
            buttons += "{\"id\": " + std::to_string(control.id) +
                       ", \"text\": " + json_string(control.text) +
                       ", \"default\": " + (is_default ? "true" : "false") + "}";
        } else if (ci_equal(control.kind, L"Static") && control.id == 0xFFFF) {
            text = control.text;
        }
    }

    DWORD process_id = 0;
    GetWindowThreadProcessId(box, &process_id);
    const HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);

    const HWND target = GetDlgItem(box, button);
    std::string report = "{\"text\": " + json_string(text) + ", \"buttons\": [" + buttons + "]";
    if (target == nullptr) {
        say(report + ", \"error\": \"no such button\"}");
        if (process != nullptr)
            CloseHandle(process);
        return 5;
    }
    SendMessageW(target, BM_CLICK, 0, 0);

    // The process ends, or it shows its next box.
    const ULONGLONG deadline = GetTickCount64() + timeout;
    DWORD exit_code = STILL_ACTIVE;
    bool ended = false;
    bool next_box = false;
    while (process != nullptr && GetTickCount64() < deadline) {
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) {
            ended = GetExitCodeProcess(process, &exit_code);
            break;
        }
        if (!IsWindow(box) && showing_a_box(process_id)) {
            next_box = true;
            break;
        }
    }
    if (process != nullptr)
        CloseHandle(process);
    say(report + ", \"exit_code\": " + (ended ? std::to_string(exit_code) : "null") +
        ", \"next_box\": " + (next_box ? "true" : "false") + "}");
    return ended || next_box ? 0 : 6;
}

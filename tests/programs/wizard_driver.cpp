// Drives the setup wizard of another process from outside, as a user would, and
// reads back what it shows. One command per line on standard input, one answer line
// (JSON for "state") on standard output:
//
//   find MS             wait up to MS milliseconds for the wizard's dialog
//   state               the dialog's client area on the screen; text, visibility, enabled state,
//                       style and rectangle of every control; the check box, the
//                       default button, the focus, the progress bar and the window
//                       menu's Close item
//   click ID            BM_CLICK on control ID
//   command ID          WM_COMMAND for ID, as the dialog manager sends for keys
//   key escape|enter|alt-f4   the key's messages, posted to the focused control
//   close               WM_CLOSE to the dialog
//   gone MS             wait up to MS milliseconds for the dialog to go away
//   processes NAME      how many processes run the executable NAME

#include <windows.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "lib/product.hpp"
#include "lib/wizard_pages.hpp"
#include "window_menu_probe.hpp"
#include "windows/wide_text.hpp"

namespace probe = vantrel::testing::window_menu_probe;
namespace control_id = vantrel::wizard_control;

namespace {

constexpr UINT send_timeout_ms = 30000;
constexpr DWORD poll_ms = 20;
constexpr int controls[] = {control_id::title,    control_id::body,       control_id::status,
                            control_id::progress, control_id::launch_box, control_id::separator,
                            control_id::back,     control_id::ok,         control_id::cancel};

HWND dialog = nullptr;

std::string json_text(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, send_timeout_ms, &result);
    return static_cast<LRESULT>(result);
}

std::string window_text(HWND window) {
    wchar_t buffer[2048] = {};
    send(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
    return vantrel::from_wide(buffer).value_or("(invalid UTF-16)");
}

std::string close_item_state() {
    const HMODULE hook_module = LoadLibraryW(L"window_menu_hook.dll");
    if (hook_module == nullptr)
        return "\"no hook\"";
    const auto hook = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(hook_module, probe::hook_procedure)));
    const HHOOK installed = hook ? SetWindowsHookExW(WH_CALLWNDPROC, hook, hook_module,
                                                     GetWindowThreadProcessId(dialog, nullptr))
                                 : nullptr;
    std::string answer = "\"no hook\"";
    if (installed != nullptr) {
        RemovePropW(dialog, probe::answer_property);
        send(dialog, RegisterWindowMessageW(probe::query_message), 0, 0);
        const auto state = reinterpret_cast<UINT_PTR>(GetPropW(dialog, probe::answer_property));
        if ((state & probe::answered_flag) == 0)
            answer = "\"unanswered\"";
        else
            answer = (state & MF_GRAYED) ? "\"grayed\"" : "\"enabled\"";
        UnhookWindowsHookEx(installed);
    }
    FreeLibrary(hook_module);
    return answer;
}

int focused_control() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        return 0;
    }
    return info.hwndFocus == dialog ? -1 : GetDlgCtrlID(info.hwndFocus);
}

std::string state() {
    if (!IsWindow(dialog))
        return "{\"gone\": true}";
    std::ostringstream out;
    // The client area on the screen: without a window manager Wine draws no frame.
    RECT client{};
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    out << "{\"gone\": false, \"title\": " << json_text(window_text(dialog)) << ", \"client\": ["
        << client.left << ", " << client.top << ", " << client.right << ", " << client.bottom
        << "], \"controls\": {";
    for (const int id : controls) {
        const HWND item = GetDlgItem(dialog, id);
        RECT rect{};
        GetWindowRect(item, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        out << (id == controls[0] ? "" : ", ") << "\"" << id
            << "\": {\"text\": " << json_text(window_text(item))
            << ", \"visible\": " << (IsWindowVisible(item) != 0)
            << ", \"enabled\": " << (IsWindowEnabled(item) != 0)
            << ", \"style\": " << GetWindowLongW(item, GWL_STYLE) << ", \"rect\": [" << rect.left
            << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << "]}";
    }
    const HWND bar = GetDlgItem(dialog, control_id::progress);
    const HWND box = GetDlgItem(dialog, control_id::launch_box);
    out << "}, \"checked\": " << (send(box, BM_GETCHECK, 0, 0) == BST_CHECKED)
        << ", \"default_id\": " << LOWORD(send(dialog, DM_GETDEFID, 0, 0))
        << ", \"focus\": " << focused_control()
        << ", \"progress\": {\"marquee\": " << ((GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0)
        << ", \"mode\": " << GetWindowLongPtrW(bar, GWLP_USERDATA)
        << ", \"position\": " << send(bar, PBM_GETPOS, 0, 0)
        << ", \"low\": " << send(bar, PBM_GETRANGE, TRUE, 0)
        << ", \"high\": " << send(bar, PBM_GETRANGE, FALSE, 0)
        << "}, \"close_item\": " << close_item_state() << "}";
    std::string answer = out.str();
    // JSON's booleans: the stream writes 1 and 0.
    for (const char* field :
         {"\"gone\": ", "\"visible\": ", "\"enabled\": ", "\"checked\": ", "\"marquee\": "}) {
        const std::string key = field;
        for (std::size_t at = answer.find(key); at != std::string::npos;
             at = answer.find(key, at + 1)) {
            const std::size_t value = at + key.size();
            if (answer.compare(value, 1, "1") == 0)
                answer.replace(value, 1, "true");
            else if (answer.compare(value, 1, "0") == 0)
                answer.replace(value, 1, "false");
        }
    }
    return answer;
}

bool find(DWORD timeout_ms) {
    const std::wstring title = vantrel::to_wide(vantrel::product_name);
    for (DWORD waited = 0;; waited += poll_ms) {
        dialog = FindWindowW(L"#32770", title.c_str());
        if (dialog != nullptr && IsWindowVisible(dialog))
            return true;
        if (waited >= timeout_ms)
            return false;
        Sleep(poll_ms);
    }
}

bool gone(DWORD timeout_ms) {
    for (DWORD waited = 0; IsWindow(dialog); waited += poll_ms) {
        if (waited >= timeout_ms)
            return false;
        Sleep(poll_ms);
    }
    return true;
}

// Keys go where the keyboard would send them: the focused control, else the dialog.
bool key(const std::string& name) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    const HWND target = info.hwndFocus != nullptr ? info.hwndFocus : dialog;
    constexpr LPARAM alt_down = LPARAM(1) << 29;
    constexpr LPARAM released = (LPARAM(1) << 30) | (LPARAM(1) << 31);
    if (name == "alt-f4") {
        return PostMessageW(target, WM_SYSKEYDOWN, VK_F4, 1 | alt_down) &&
               PostMessageW(target, WM_SYSKEYUP, VK_F4, 1 | alt_down | released);
    }
    const WPARAM code = name == "escape" ? VK_ESCAPE : name == "enter" ? VK_RETURN : 0;
    return code != 0 && PostMessageW(target, WM_KEYDOWN, code, 1) &&
           PostMessageW(target, WM_KEYUP, code, 1 | released);
}

int processes(const std::string& name) {
    const std::wstring wide = vantrel::to_wide(name);
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        count += CompareStringOrdinal(entry.szExeFile, -1, wide.c_str(), -1, TRUE) == CSTR_EQUAL;
    }
    CloseHandle(snapshot);
    return count;
}

std::string answer(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    std::string argument;
    words >> verb >> argument;
    if (verb == "find")
        return find(std::stoul(argument)) ? "ok" : "not found";
    if (verb == "processes")
        return std::to_string(processes(argument));
    if (dialog == nullptr)
        return "error: no dialog";
    if (verb == "state")
        return state();
    if (verb == "gone")
        return gone(std::stoul(argument)) ? "ok" : "still there";
    if (verb == "click") {
        send(GetDlgItem(dialog, std::stoi(argument)), BM_CLICK, 0, 0);
        return "ok";
    }
    if (verb == "command") {
        const int id = std::stoi(argument);
        send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
             reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        return "ok";
    }
    if (verb == "key")
        return key(argument) ? "ok" : "error: key";
    if (verb == "close") {
        send(dialog, WM_CLOSE, 0, 0);
        return "ok";
    }
    return "error: unknown command";
}

}  // namespace

int wmain() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::cout << answer(line) << std::endl;
    }
    return 0;
}

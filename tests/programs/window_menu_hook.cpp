// A WH_CALLWNDPROC hook that the wizard driver places in the wizard's thread. On the
// query message it reads the window menu's Close item where that is allowed.

#include <windows.h>

#include "window_menu_probe.hpp"

namespace probe = vantrel::testing::window_menu_probe;

extern "C" __declspec(dllexport) LRESULT CALLBACK
    window_menu_hook(int code, WPARAM wparam, LPARAM lparam) {
    static const UINT query = RegisterWindowMessageW(probe::query_message);
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && call->message == query) {
        const UINT state = GetMenuState(GetSystemMenu(call->hwnd, FALSE), SC_CLOSE, MF_BYCOMMAND);
        SetPropW(call->hwnd, probe::answer_property,
                 reinterpret_cast<HANDLE>(
                     static_cast<UINT_PTR>((state & 0xFFFF) | probe::answered_flag)));
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

#pragma once

// Shared by the wizard driver and the hook it places in the wizard's thread: the
// window menu of another process can only be read on the window's own thread.

namespace vantrel::testing::window_menu_probe {

// Sent to the window; the hook answers by setting the property on it.
inline constexpr wchar_t query_message[] = L"VantrelTestCloseItemQuery";
// GetMenuState of SC_CLOSE, with answered_flag so that 0 means "not answered".
inline constexpr wchar_t answer_property[] = L"VantrelTestCloseItemState";
inline constexpr unsigned long answered_flag = 0x10000;
inline constexpr char hook_procedure[] = "window_menu_hook";

}  // namespace vantrel::testing::window_menu_probe

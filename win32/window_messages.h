#pragma once
// Messages of the main dialog's own.
#include <windows.h>

namespace edbwin {

inline constexpr UINT kInboxMessage = WM_APP + 1;    // calls queued in its inbox
inline constexpr UINT kProgressMessage = WM_APP + 2; // the scan's newest position
inline constexpr UINT kTickMessage = WM_APP + 3;     // lParam: the tree item whose box changed
inline constexpr UINT kSplitterMessage = WM_APP + 4; // lParam: how far the splitter moved

} // namespace edbwin

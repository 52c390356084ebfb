#pragma once
// The fixed texts the window's boxes and panes share with the Linux window: views/ holds them.
#include "views/texts.h"

namespace edbwin {

inline constexpr const char* kCaption = edb::views::kCaption;
inline constexpr const char* kWebAddress = edb::views::kWebAddress;
inline constexpr const char* kSupportAddress = edb::views::kSupportAddress;
inline constexpr const char* kStopQuestion = edb::views::kStopQuestion;
inline constexpr const char* kExitQuestion = edb::views::kCloseQuestion;
inline constexpr const char* kHelpMissing = "Unable to locate software Help file";

} // namespace edbwin

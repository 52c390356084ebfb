#pragma once
// The fixed texts every window of the program shares: the caption, the About box's addresses,
// Stop's question. Their own header, so a dialog needs no include of the main dialog; the texts
// themselves are the ones every front end shows.
#include "views/texts.h"

namespace edbapp {

inline constexpr const char* kCaption = edb::views::kCaption;
inline constexpr const char* kWebAddress = edb::views::kWebAddress;
inline constexpr const char* kSupportAddress = edb::views::kSupportAddress;
inline constexpr const char* kStopQuestion = edb::views::kStopQuestion;

} // namespace edbapp

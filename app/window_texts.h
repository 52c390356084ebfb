#pragma once
// The fixed texts every window of the program shares: the caption, the About box's addresses,
// Stop's question. Their own header, so a dialog needs no include of the main dialog.
namespace edbapp {

inline constexpr const char* kCaption = "Quenlor Systems Exchange To Eml Conversion";
inline constexpr const char* kWebAddress = "https://www.example.com";
inline constexpr const char* kSupportAddress = "support@example.com";
inline constexpr const char* kStopQuestion = "Do you want to stop current process ?";

} // namespace edbapp

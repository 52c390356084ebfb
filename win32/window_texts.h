#pragma once
// The fixed texts the window's boxes and panes share with the Linux window.
namespace edbwin {

inline constexpr const char* kCaption = "Quenlor Systems Exchange To Eml Conversion";
inline constexpr const char* kWebAddress = "https://www.example.com";
inline constexpr const char* kSupportAddress = "support@example.com";
inline constexpr const char* kStopQuestion = "Do you want to stop current process ?";
inline constexpr const char* kExitQuestion = "Are you sure, you want to close the software?";
inline constexpr const char* kHelpMissing = "Unable to locate software Help file";

} // namespace edbwin

#pragma once
// The words every front end shows outside the lists: the caption, the questions and refusals of
// the main window, the status of Find and of a conversion, and the counts the command line
// prints. Texts the users know stay exactly as they are.
#include "io/unreadable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace edb::views {

inline constexpr const char* kCaption = "Quenlor Systems Exchange To Eml Conversion";
inline constexpr const char* kWebAddress = "https://www.example.com";
inline constexpr const char* kSupportAddress = "support@example.com";
inline constexpr const char* kStopQuestion = "Do you want to stop current process ?";
inline constexpr const char* kCloseQuestion = "Are you sure, you want to close the software?";
// Closing the window while Convert writes.
inline constexpr const char* kCloseDuringConvertQuestion =
    "A conversion is running. Cancel it and close the software?";
// What the About box says the program does.
inline constexpr const char* kAboutText =
    "Reads an Exchange store without Exchange and never changes it: mailboxes, folder trees, "
    "messages in a viewer, Find. Converts folders to .eml, mbox, Maildir, PST or IMAP. "
    "edb2eml does the same on the command line; both run on Windows too.";
// The same for the Windows build, which writes neither Maildir nor to an IMAP server.
inline constexpr const char* kAboutTextWindows =
    "Reads an Exchange store file (.edb) without Exchange and never changes it: mailboxes, "
    "folder trees, messages in a viewer, Find. Converts folders to .eml files, mbox or PST. "
    "edb2eml.exe beside it does the same on the command line.";
inline constexpr const char* kSelectMailboxText = "Please Select Any Mailbox";
inline constexpr const char* kTickFoldersText = "Please tick the folders to convert";
inline constexpr const char* kOpenFileTitle = "Select Exchange Server File";
inline constexpr const char* kOpenFileFilter = "Exchange Server File (*.edb)";

// The status bar after a scan that could not read parts of the store ("Read incompletely: 1
// range (8192 bytes) could not be read: ..."); empty when everything was read. Both windows
// keep it shown until the next scan.
[[nodiscard]] std::string ScanStatusText(const std::vector<UnreadableRange>& unreadable);

// "1 message", "2 messages".
[[nodiscard]] std::string MessageCountText(std::uint64_t n);

// Find's status line: "Searching...", "Searching... N found", then "N message(s) found".
[[nodiscard]] std::string FindStatusText(bool running, std::uint64_t found);

// The label of Convert's progress: "Converting FOLDER (3 of 10)" or "Uploading ...".
[[nodiscard]] std::string ConvertProgressText(bool upload, const std::string& folder,
                                              std::uint64_t done, std::uint64_t total);

// What a conversion did, as the shells hand it over from the conversion's own summary.
struct ConvertTally {
    bool upload = false;
    std::string place; // the output folder or the server
    std::uint64_t saved = 0;
    std::uint64_t foldersWritten = 0;
    std::uint64_t present = 0; // there already from an earlier run
    std::uint64_t notes = 0;   // saved without a part that could not be read
    std::string logPath;       // empty when nothing had to be logged
    bool logFailed = false;
    std::string logFailure;    // why the log could not be written
    std::string logText;       // what it would have said
    std::uint64_t failed = 0;
    std::string firstFailure;
    bool stopped = false;
    bool cancelled = false;
    std::uint64_t skipped = 0; // not saved because of the cancel
    std::string storeChanged;  // the store changed under the run: the text saying so
};

// The summary shown when a conversion ends, one fact a line.
[[nodiscard]] std::string ConvertSummaryText(const ConvertTally& t);

} // namespace edb::views

#pragma once
// How the window and edb2eml word the end of a scan. The users know these texts; they stay
// exactly as they are.
#include "scan/scan.h"

#include <string>

namespace edb {

inline constexpr const char* kNoMailboxText = "Highly corrupted, Recovery not possible...";
inline constexpr const char* kNotEnoughMemoryText = "Not Enough Memory";
inline constexpr const char* kOutOfMemoryText = "Out Of Memory"; // the long-value key list's

// The text for how `result` ended: the file and the reason for a failure, the fixed text of a
// store without a mailbox or of exhausted memory, "Stopped"; empty for a complete scan.
[[nodiscard]] std::string ScanEndText(const ScanResult& result);

// After work that read the store again (Convert, a message shown): true when the open store's
// size is no longer the size the scan saw (a failure to ask counts as a change).
[[nodiscard]] bool StoreSizeChanged(const StoreCatalog& catalog);
// "FILE: the file changed while it was read".
[[nodiscard]] std::string FileChangedText(const std::string& file);

} // namespace edb

#pragma once
// How the front ends and the export log say which parts of the store the disk could not give
// back: the count and bytes for a status line, one line per range for the lists.
#include "io/unreadable.h"

#include <string>
#include <vector>

namespace edb {

// "3 ranges (12288 bytes) could not be read: Input/output error"; the reasons joined when the
// ranges failed differently. Empty when there is none.
[[nodiscard]] std::string UnreadableSummaryText(const std::vector<UnreadableRange>& ranges);
// "bytes 0x3000-0x4fff (8192 bytes): Input/output error".
[[nodiscard]] std::string UnreadableRangeText(const UnreadableRange& range);
// The export log's block: a heading line and one line per range, without a last line end.
// Empty when there is none.
[[nodiscard]] std::string UnreadableLogText(const std::vector<UnreadableRange>& ranges);

} // namespace edb

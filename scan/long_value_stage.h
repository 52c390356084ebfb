#pragma once
// The long-value stage: the chunk pages of the long-value owner matched to the long-valued
// attachments' references, whose chunk offsets it then hands out.
#include "scan/scan_context.h"

namespace edb {

// `inKeyStage` is set while the long-value key list is being built (its out-of-memory text
// differs).
void RunLongValueStage(ScanContext& ctx, bool& inKeyStage);

} // namespace edb

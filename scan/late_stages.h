#pragma once
// The stages after folder discovery: hand-overs to the message decoder in their fixed order,
// then the long-value stage.
#include "scan/scan_context.h"

namespace edb {

// `inKeyStage` is set while the long-value key list is being built (its out-of-memory text
// differs).
void RunLateStages(ScanContext& ctx, bool& inKeyStage);

} // namespace edb

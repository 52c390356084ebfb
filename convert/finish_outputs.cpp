#include "convert/convert.h"

#include <algorithm>

namespace edb::conv {

FinishResult FinishOutputs(Destination& destination, ConvertSummary& summary) {
    FinishResult done;
    try {
        done = destination.finish();
    } catch (const std::exception& e) {
        done.failed.push_back({"", 0, e.what()});
    }
    for (const UnfinishedOutput& u : done.failed) {
        const std::size_t n = std::min(u.messages, summary.saved);
        summary.saved -= n;
        summary.failed += n;
        summary.failures.push_back({u.location, "", u.reason});
        std::erase_if(summary.savedFolders,
                      [&](const SavedFolder& s) { return s.location == u.location; });
    }
    summary.remarks = std::move(done.remarks);
    return done;
}

} // namespace edb::conv

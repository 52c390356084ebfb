#include "frontend/unreadable_texts.h"

#include <cstdio>

namespace edb {

namespace {
std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}
} // namespace

std::string UnreadableSummaryText(const std::vector<UnreadableRange>& ranges) {
    if (ranges.empty()) {
        return {};
    }
    std::vector<std::string> reasons;
    for (const UnreadableRange& r : ranges) {
        std::string why = r.reason();
        bool seen = false;
        for (const std::string& s : reasons) {
            seen = seen || s == why;
        }
        if (!seen) {
            reasons.push_back(std::move(why));
        }
    }
    std::string text = std::to_string(ranges.size()) + (ranges.size() == 1 ? " range (" : " ranges (") +
                       std::to_string(UnreadableBytes(ranges)) + " bytes) could not be read: ";
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        text += (i ? ", " : "") + reasons[i];
    }
    return text;
}

std::string UnreadableRangeText(const UnreadableRange& range) {
    return "bytes " + hex(range.offset) + "-" + hex(range.end() - 1) + " (" +
           std::to_string(range.length) + " bytes): " + range.reason();
}

std::string UnreadableLogText(const std::vector<UnreadableRange>& ranges) {
    if (ranges.empty()) {
        return {};
    }
    std::string text = "The store was read incompletely: " + UnreadableSummaryText(ranges) +
                       ". The messages and parts stored there are missing; these were read as "
                       "zeros:";
    for (const UnreadableRange& r : ranges) {
        text += "\n  " + UnreadableRangeText(r);
    }
    return text;
}

} // namespace edb

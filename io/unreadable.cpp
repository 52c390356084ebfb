#include "io/unreadable.h"

#include <algorithm>

namespace edb {

void UnreadableRanges::add(std::uint64_t offset, std::uint64_t length, int code) {
    if (length == 0) {
        return;
    }
    WriterLock lock(m_mutex);
    std::uint64_t lo = offset;
    std::uint64_t hi = offset + length;
    int kept = code;
    auto it = m_ranges.upper_bound(lo);
    if (it != m_ranges.begin()) {
        --it; // the range before may reach into or up to this one
    }
    while (it != m_ranges.end() && it->first <= hi) {
        const UnreadableRange& r = it->second;
        const bool overlaps = r.offset < hi && r.end() > lo;
        const bool touches = r.end() == lo || r.offset == hi;
        if (overlaps || (touches && r.code == code)) {
            // Two threads may fail on one page; the range noted first keeps its reason.
            kept = overlaps ? r.code : kept;
            lo = std::min(lo, r.offset);
            hi = std::max(hi, r.end());
            it = m_ranges.erase(it);
        } else {
            ++it;
        }
    }
    m_ranges[lo] = UnreadableRange{lo, hi - lo, kept};
    m_any.store(true, std::memory_order_release);
}

std::vector<UnreadableRange> UnreadableRanges::list() const {
    ReaderLock lock(m_mutex);
    std::vector<UnreadableRange> out;
    out.reserve(m_ranges.size());
    for (const auto& [at, r] : m_ranges) {
        out.push_back(r);
    }
    return out;
}

std::optional<UnreadableRange> UnreadableRanges::firstWithin(std::uint64_t offset,
                                                             std::uint64_t length) const {
    if (!any() || length == 0) {
        return std::nullopt;
    }
    ReaderLock lock(m_mutex);
    auto it = m_ranges.upper_bound(offset);
    if (it != m_ranges.begin() && std::prev(it)->second.end() > offset) {
        return std::prev(it)->second;
    }
    if (it != m_ranges.end() && it->first - offset < length) {
        return it->second;
    }
    return std::nullopt;
}

void UnreadableRanges::clear() {
    WriterLock lock(m_mutex);
    m_ranges.clear();
    m_any.store(false, std::memory_order_release);
}

std::uint64_t UnreadableBytes(const std::vector<UnreadableRange>& ranges) {
    std::uint64_t sum = 0;
    for (const UnreadableRange& r : ranges) {
        sum += r.length;
    }
    return sum;
}

} // namespace edb

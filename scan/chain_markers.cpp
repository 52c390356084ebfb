// The store's chunk markers, noted once by the first pass.
#include "scan/chain_markers.h"

#include "io/format.h"

#include <algorithm>
#include <cstring>

namespace edb {

namespace {
constexpr std::int64_t kMarkerBytes = sizeof kChunkMarker;
constexpr std::int64_t kValueBytes = 4;
// A million markers and one per four pages: a few MiB for any real store; a file made of
// markers gives up instead of growing without bound.
constexpr std::size_t kLimitBase = std::size_t{1} << 20;
constexpr std::uint64_t kPagesPerMarker = 4;
} // namespace

ChainMarkerIndex::ChainMarkerIndex(std::uint64_t storeSize)
    : m_limit(kLimitBase + static_cast<std::size_t>(storeSize / (kPagesPerMarker * kPageSize))) {}

void ChainMarkerIndex::FindInBlock(std::uint64_t base, const ByteView& block, const ByteView& after,
                                   std::vector<Entry>& out) {
    const auto n = static_cast<std::int64_t>(block.size());
    auto byteAt = [&](std::int64_t i) { return i < n ? block.byteOr0(i) : after.byteOr0(i - n); };
    auto present = [&](std::int64_t i) { return i < n || after.inside(i - n, 1); };
    for (std::int64_t i = 0;; ++i) {
        const auto hit = block.find(kChunkMarker[0], i, n);
        if (!hit) {
            return;
        }
        i = *hit;
        bool marker = true;
        for (std::int64_t k = 1; k < kMarkerBytes; ++k) {
            marker = marker && present(i + k) && byteAt(i + k) == kChunkMarker[k];
        }
        if (!marker) {
            continue;
        }
        std::uint32_t value = 0;
        for (std::int64_t k = 0; k < kValueBytes; ++k) {
            value |= std::uint32_t{byteAt(i + kMarkerBytes + k)} << (8 * k);
        }
        out.push_back({base + static_cast<std::uint64_t>(i), value});
    }
}

void ChainMarkerIndex::append(const std::vector<Entry>& found) {
    if (!m_usable) {
        return;
    }
    if (found.size() > m_limit - m_entries.size()) {
        giveUp();
        return;
    }
    m_entries.insert(m_entries.end(), found.begin(), found.end());
}

void ChainMarkerIndex::giveUp() {
    m_usable = false;
    m_entries = {};
}

void ChainMarkerIndex::blockMarkers(std::uint64_t start, std::size_t n, ChainMarkers& out) const {
    out.count = 0;
    const auto size = static_cast<std::int64_t>(n);
    // Whole markers from byte kFirstMarkerByte on, as the block's own search takes them.
    if (size < kFirstMarkerByte + kMarkerBytes) {
        return;
    }
    const std::uint64_t from = start + static_cast<std::uint64_t>(kFirstMarkerByte);
    const std::uint64_t last = start + static_cast<std::uint64_t>(size - kMarkerBytes);
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), from,
                               [](const Entry& e, std::uint64_t at) { return e.at < at; });
    for (; it != m_entries.end() && it->at <= last && out.count < kMostChainMarkers; ++it) {
        const auto at = static_cast<std::int64_t>(it->at - start) + kMarkerBytes;
        // The value's bytes past the block read as 0.
        std::uint32_t value = it->value;
        for (std::int64_t k = 0; k < kValueBytes; ++k) {
            if (at + k >= size) {
                value &= ~(std::uint32_t{0xFF} << (8 * k));
            }
        }
        out.items[out.count++] = {at, value};
    }
}

} // namespace edb

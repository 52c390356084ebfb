#include "decode/long_values.h"

#include "decode/tag_entries.h"
#include "io/format.h"
#include "io/text.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

namespace edb {

namespace {

constexpr std::int64_t kFirstRecordStart = 32;
constexpr std::size_t kMaxRecordStarts = 501;
constexpr std::int64_t kNameScanWindow = 60;
constexpr std::int64_t kSizeScanWindow = 30;
constexpr std::size_t kNameMostUnits = 259;
constexpr std::int64_t kOwnerPageBefore = 3; // u16 LE page number just before a reference

// Finds the first record start with this id whose tag scan sees a name column and decodes it;
// nullopt when no record start qualifies (the id is then not decoded on this page).
std::optional<DecodedAttachment> decodeAttachment(const ByteView& p, std::uint64_t pageOffset,
                                                  const std::vector<std::int64_t>& starts) {
    for (const std::int64_t x : starts) {
        std::int64_t s = x;
        std::int64_t e = -1;
        const auto n = static_cast<std::int64_t>(p.size());
        for (std::int64_t j = x; j < s + kNameScanWindow && j < n; ++j) {
            if (IsColumn(p, j, kColumnAttachmentStart)) {
                s = j;
                e = j + 2;
            } else if (IsColumn(p, j, kColumnAttachmentName)) {
                e = j + 2;
                break;
            }
        }
        if (e < 0) {
            continue;
        }
        DecodedAttachment out;
        const ValueRange name = ValueRangeAt(p, e);
        if (!name.usable()) {
            return out;
        }
        const WideTextRule rule{{0x00, 0x01, 0x02}, kNameMostUnits, true, name.size()};
        out.name = Utf16ToUtf8(ReadWideUnits(p, s + name.start + 1, rule).units);

        std::int64_t sizeEntry = -1;
        for (std::int64_t j = s; j < s + kSizeScanWindow; ++j) {
            if (IsColumn(p, j, kColumnAttachmentData)) {
                sizeEntry = j + 2;
                break;
            }
        }
        if (sizeEntry < 0) {
            return out;
        }
        const ValueRange data = ValueRangeAt(p, sizeEntry);
        if (!data.usable()) {
            return out;
        }
        out.added = true;
        out.size = static_cast<std::uint16_t>(data.size());
        const std::int64_t v = s + data.start + 1;
        if (out.size == kLongValueReferenceSize) {
            out.reference = p.u16BeOr0(v);
            out.ownerPage = p.u16LeOr0(v - kOwnerPageBefore);
        } else {
            out.position = pageOffset + static_cast<std::uint64_t>(v);
        }
        return out;
    }
    return std::nullopt;
}

// Owner number of the page that a 5-byte attachment value points at; 0 when outside the store.
std::uint32_t ownerOfPage(const StoreCatalog& catalog, std::uint16_t pageNumber) {
    const std::uint64_t at = PageNumberOffset(pageNumber);
    if (at == 0 || at >= catalog.storeSize) {
        return 0;
    }
    std::array<std::uint8_t, kPageHeaderRead> probe{};
    const std::size_t got = catalog.storeFile.ReadAt(at, probe.data(), probe.size());
    const ByteView view(probe.data(), got);
    return view.readU32Le(kPageOwnerAt).value_or(0);
}

} // namespace

std::uint32_t ModeOneReference(const ByteView& page) {
    const auto r = page.readU32Le(kBodyChunkRecordAt);
    return r && *r <= 0xFFFF ? *r : kNoChunkReference;
}

void CreditModeOneChunk(StoreCatalog& catalog, std::uint32_t reference, std::uint64_t pageOffset) {
    if (reference > 0xFFFF) {
        return;
    }
    // The page goes to the first message in list order that has the reference in either body,
    // the formatted body first.
    MessageList& messages = catalog.messages;
    const auto ref = static_cast<std::uint16_t>(reference);
    const auto* entries = messages.byBodyReference(ref);
    if (entries == nullptr || entries->empty()) {
        return;
    }
    MessageEntry* m = entries->front();
    const std::uint64_t position = pageOffset + kBodyChunkRecordAt;
    messages.updateFields([&] {
        if (m->formattedBody.reference == ref) {
            m->formattedBody.chunks.AddOffset(position);
        } else {
            m->primaryBody.chunks.AddOffset(position);
        }
    });
}

void FindChainMarkers(const ByteView& block, ChainMarkers& out) {
    // Straight to each 0x03 (chunk data rarely holds one), at most kMostChainMarkers.
    out.count = 0;
    const auto n = static_cast<std::int64_t>(block.size());
    const std::int64_t markerBytes = sizeof kChunkMarker;
    for (std::int64_t i = kFirstMarkerByte; out.count < kMostChainMarkers; ++i) {
        const auto hit = block.find(kChunkMarker[0], i, n - markerBytes + 1);
        if (!hit) {
            break;
        }
        i = *hit;
        if (block.matches(i, kChunkMarker)) {
            // Bytes of the value past the end of the block count as 0, as every byte outside
            // a page does.
            out.items[out.count++] = {i + markerBytes, block.u32LeOr0(i + markerBytes)};
        }
    }
}

bool CreditChainMarkers(StoreCatalog& catalog, const ChainMarkers& found,
                        std::uint64_t blockOffset) {
    if (found.count == 0) {
        return false;
    }
    MessageList& messages = catalog.messages;
    // Each message takes the first marker, in marker order, that carries one of its references.
    // A block credits few messages: a short list, a set only when it grows.
    constexpr std::size_t kFewCredited = 32;
    const MessageEntry* few[kFewCredited];
    std::size_t fewCount = 0;
    std::unordered_set<const MessageEntry*> many;
    auto firstCredit = [&](const MessageEntry* m) {
        if (fewCount < kFewCredited) {
            if (std::find(few, few + fewCount, m) != few + fewCount) {
                return false;
            }
            few[fewCount++] = m;
            return true;
        }
        if (std::find(few, few + fewCount, m) != few + fewCount) {
            return false;
        }
        return many.insert(m).second;
    };
    for (std::size_t k = 0; k < found.count; ++k) {
        const ChainMarker& marker = found.items[k];
        if (marker.value > 0xFFFF) {
            continue;
        }
        const auto reference = static_cast<std::uint16_t>(marker.value);
        const auto* entries = messages.byBodyReference(reference);
        if (entries == nullptr) {
            continue;
        }
        for (MessageEntry* m : *entries) {
            if (!firstCredit(m)) {
                continue;
            }
            const std::uint64_t position = blockOffset + static_cast<std::uint64_t>(marker.at);
            messages.updateFields([&] {
                if (m->formattedBody.reference == reference) {
                    m->formattedBody.chunks.AddOffset(position);
                } else {
                    m->primaryBody.chunks.AddOffset(position);
                }
            });
        }
    }
    return true;
}

bool MatchLongValueChunks(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          int mode) {
    if (mode == 1) {
        CreditModeOneChunk(catalog, ModeOneReference(page), pageOffset);
        return true;
    }
    ChainMarkers found;
    FindChainMarkers(page, found);
    return CreditChainMarkers(catalog, found, pageOffset);
}

bool DecodeAttachmentPage(const ByteView& page, std::uint64_t pageOffset,
                          AttachmentPageRecords& out) {
    out.ids.clear();
    out.any = false;
    const auto n = static_cast<std::int64_t>(page.size());
    if (n <= kFirstRecordStart) {
        return false;
    }
    // Record starts per distinct id, ids in page order; a page has few distinct ids.
    std::vector<std::vector<std::int64_t>> starts;
    std::size_t count = 0;
    for (std::int64_t i = kFirstRecordStart; i < n && count < kMaxRecordStarts; ++i) {
        // Straight to the next 0x01, the only byte a record start can begin with.
        const auto hit = page.find(kAttachmentRecordStart[0], i, n);
        if (!hit) {
            break;
        }
        i = *hit;
        if (!page.matches(i, kAttachmentRecordStart)) {
            continue;
        }
        ++count;
        const auto read = page.readId(i);
        if (!read) {
            continue; // its id cannot equal an 8-byte attachment id
        }
        const FolderId& id = *read;
        std::size_t k = 0;
        while (k < out.ids.size() && out.ids[k].id != id) {
            ++k;
        }
        if (k == out.ids.size()) {
            out.ids.push_back({id, std::nullopt});
            starts.emplace_back();
        }
        starts[k].push_back(i);
    }
    out.any = count > 0;
    for (std::size_t k = 0; k < out.ids.size(); ++k) {
        out.ids[k].record = decodeAttachment(page, pageOffset, starts[k]);
    }
    return out.any;
}

bool ApplyAttachmentPage(StoreCatalog& catalog, const AttachmentPageRecords& records) {
    if (!records.any) {
        return false;
    }
    // (message position, id position within the message, entry, decoded record): handled in
    // message-list order and id order, since the first 5-byte value decides the long-value owner.
    struct Pending {
        std::size_t seq;
        std::size_t idIndex;
        MessageEntry* message;
        const DecodedAttachment* record;
    };
    std::vector<Pending> pending;
    for (const AttachmentPageRecords::Id& r : records.ids) {
        if (!r.record) {
            continue;
        }
        const auto* owners = catalog.messages.byAttachmentId(r.id);
        if (owners == nullptr) {
            continue;
        }
        for (const auto& [seq, m] : *owners) {
            const auto& list = m->attachmentIds;
            const auto at = std::find(list.begin(), list.end(), r.id);
            pending.push_back(
                Pending{seq, static_cast<std::size_t>(at - list.begin()), m, &*r.record});
        }
    }
    std::sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        return a.seq != b.seq ? a.seq < b.seq : a.idIndex < b.idIndex;
    });

    for (const Pending& item : pending) {
        const DecodedAttachment& rec = *item.record;
        if (!rec.added) {
            continue;
        }
        if (rec.size == 5 && catalog.longValueOwner == 0) {
            catalog.longValueOwner = ownerOfPage(catalog, rec.ownerPage);
        }
        catalog.messages.updateFields([&] {
            AddAttachment(item.message->attachments, rec.name, rec.reference, rec.size,
                          rec.position);
        });
    }
    return true;
}

bool ReadAttachments(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset) {
    AttachmentPageRecords records;
    DecodeAttachmentPage(page, pageOffset, records);
    return ApplyAttachmentPage(catalog, records);
}

bool AddAttachment(std::vector<AttachmentEntry>& attachments, std::string_view name,
                   std::uint16_t reference, std::uint16_t size, std::uint64_t position) {
    if (name.empty()) {
        return false;
    }
    for (const AttachmentEntry& a : attachments) {
        if (a.reference == reference && a.name == name) {
            return false;
        }
    }
    AttachmentEntry& added = attachments.emplace_back();
    added.size = size;
    added.position = position;
    added.name = std::string(name);
    added.reference = reference;
    return true;
}

} // namespace edb

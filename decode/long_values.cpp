#include "decode/long_values.h"

#include "io/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <unordered_set>

namespace edb {

namespace {

constexpr std::int64_t kModeOneRecord = 42;
constexpr std::int64_t kFirstMarkerByte = 48;
constexpr std::size_t kMaxMarkers = 50;
constexpr std::int64_t kFirstRecordStart = 32;
constexpr std::size_t kMaxRecordStarts = 501;
constexpr std::int64_t kNameScanWindow = 60;
constexpr std::int64_t kSizeScanWindow = 30;
constexpr std::size_t kNameMostUnits = 259;
constexpr std::size_t kOwnerProbeBytes = 512;
constexpr std::int64_t kOwnerOffset = 24;

std::uint32_t readU32LeOr0(const ByteView& p, std::int64_t at) {
    return std::uint32_t{p.byteOr0(at)} | (std::uint32_t{p.byteOr0(at + 1)} << 8) |
           (std::uint32_t{p.byteOr0(at + 2)} << 16) | (std::uint32_t{p.byteOr0(at + 3)} << 24);
}

std::int64_t valueOffset(const ByteView& p, std::int64_t at) {
    return p.byteOr0(at) + 256 * (p.byteOr0(at + 1) & 0x0F);
}

bool unusable(std::int64_t o1, std::int64_t o2) {
    return o1 == 0 || o2 == 0 || o2 <= o1;
}

// Finds the first record start with this id whose tag scan sees a name column and decodes it;
// nullopt when no record start qualifies (the id is then not decoded on this page).
std::optional<DecodedAttachment> decodeAttachment(const ByteView& p, std::uint64_t pageOffset,
                                                  const std::vector<std::int64_t>& starts) {
    for (const std::int64_t x : starts) {
        std::int64_t s = x;
        std::int64_t e = -1;
        const auto n = static_cast<std::int64_t>(p.size());
        for (std::int64_t j = x; j < s + kNameScanWindow && j < n; ++j) {
            if (p.matches(j, {0x05, 0x01})) {
                s = j;
                e = j + 2;
            } else if (p.matches(j, {0x0A, 0x01})) {
                e = j + 2;
                break;
            }
        }
        if (e < 0) {
            continue;
        }
        DecodedAttachment out;
        const std::int64_t n1 = valueOffset(p, e);
        const std::int64_t n2 = valueOffset(p, e + 4);
        if (unusable(n1, n2)) {
            return out;
        }
        const WideTextRule rule{{0x00, 0x01, 0x02}, kNameMostUnits, true, n2 - n1};
        out.name = Utf16ToUtf8(ReadWideUnits(p, s + n1 + 1, rule).units);

        std::int64_t sizeEntry = -1;
        for (std::int64_t j = s; j < s + kSizeScanWindow; ++j) {
            if (p.matches(j, {0x07, 0x01})) {
                sizeEntry = j + 2;
                break;
            }
        }
        if (sizeEntry < 0) {
            return out;
        }
        const std::int64_t o1 = valueOffset(p, sizeEntry);
        const std::int64_t o2 = valueOffset(p, sizeEntry + 4);
        if (unusable(o1, o2)) {
            return out;
        }
        out.added = true;
        out.size = static_cast<std::uint16_t>(o2 - o1);
        const std::int64_t v = s + o1 + 1;
        if (out.size == 5) {
            out.reference = static_cast<std::uint16_t>(256 * p.byteOr0(v) + p.byteOr0(v + 1));
            out.ownerPage = static_cast<std::uint16_t>(p.byteOr0(v - 3) | (p.byteOr0(v - 2) << 8));
        } else {
            out.position = pageOffset + static_cast<std::uint64_t>(v);
        }
        return out;
    }
    return std::nullopt;
}

// Owner number of the page that a 5-byte attachment value points at; 0 when outside the store.
std::uint32_t ownerOfPage(const StoreCatalog& catalog, std::uint16_t pageNumber) {
    const std::uint64_t at = (std::uint64_t{pageNumber} + 1) * kPageSize;
    if (at == 0 || at >= catalog.storeSize) {
        return 0;
    }
    std::array<std::uint8_t, kOwnerProbeBytes> probe{};
    const std::size_t got = catalog.storeFile.ReadAt(at, probe.data(), probe.size());
    const ByteView view(probe.data(), got);
    return view.readU32Le(kOwnerOffset).value_or(0);
}

} // namespace

std::uint32_t ModeOneReference(const ByteView& page) {
    const auto r = page.readU32Le(kModeOneRecord);
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
    const std::uint64_t position = pageOffset + kModeOneRecord;
    messages.updateFields([&] {
        if (m->formattedBody.reference == ref) {
            m->formattedBody.chunks.AddOffset(position);
        } else {
            m->primaryBody.chunks.AddOffset(position);
        }
    });
}

bool MatchLongValueChunks(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          int mode) {
    MessageList& messages = catalog.messages;
    if (mode == 1) {
        CreditModeOneChunk(catalog, ModeOneReference(page), pageOffset);
        return true;
    }

    // Markers: straight to each 0x03 (chunk data rarely holds one), at most kMaxMarkers.
    std::int64_t markers[kMaxMarkers];
    std::size_t markerCount = 0;
    const std::uint8_t* d = page.data();
    const std::size_t n = page.size();
    for (std::size_t i = kFirstMarkerByte; i + 2 < n && markerCount < kMaxMarkers; ++i) {
        const void* hit = std::memchr(d + i, 0x03, n - 2 - i);
        if (hit == nullptr) {
            break;
        }
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d);
        if (d[i + 1] == 0x00 && d[i + 2] == 0x05) {
            markers[markerCount++] = static_cast<std::int64_t>(i + 3);
        }
    }
    if (markerCount == 0) {
        return false;
    }
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
    for (std::size_t k = 0; k < markerCount; ++k) {
        const std::int64_t b = markers[k];
        // Bytes of the value past the end of the block count as 0, as every byte outside a
        // page does.
        const std::uint32_t value = readU32LeOr0(page, b);
        if (value > 0xFFFF) {
            continue;
        }
        const auto reference = static_cast<std::uint16_t>(value);
        const auto* entries = messages.byBodyReference(reference);
        if (entries == nullptr) {
            continue;
        }
        for (MessageEntry* m : *entries) {
            if (!firstCredit(m)) {
                continue;
            }
            const std::uint64_t position = pageOffset + static_cast<std::uint64_t>(b);
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
        const void* hit = std::memchr(page.data() + i, 0x01, static_cast<std::size_t>(n - i));
        if (hit == nullptr) {
            break;
        }
        i = static_cast<const std::uint8_t*>(hit) - page.data();
        if (!page.matches(i, {0x01, 0x00, 0x00, 0x00, 0x00})) {
            continue;
        }
        ++count;
        if (!page.inside(i, 8)) {
            continue; // its id cannot equal an 8-byte attachment id
        }
        FolderId id{};
        std::memcpy(id.data(), page.data() + i, id.size());
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

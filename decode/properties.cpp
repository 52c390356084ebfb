#include "decode/properties.h"

#include "decode/tag_entries.h"
#include "io/format.h"
#include "io/prefetch.h"
#include "io/text.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace edb {

namespace {

constexpr std::int64_t kFirstAnchorByte = 32;
constexpr std::size_t kMaxAnchors = 300;
constexpr std::int64_t kBaseFromAnchor = 24; // record base = anchor + 24
constexpr std::int64_t kFixedLengthAt = 2;   // byte after the base: length of the fixed part
constexpr std::uint8_t kNoSenderFixedPart = 0xE4;
constexpr std::int64_t kPrimaryWindow = 60; // column 0x011A entry and its text marker
constexpr std::int64_t kTagWindow = 300;
constexpr std::int64_t kAttachmentIdWindow = 60;
constexpr std::int64_t kContactAddressWindow = 120; // address columns come early
constexpr std::int64_t kMarkerToText = 6;           // code-page marker, u32 LE count, text
constexpr std::int64_t kLzfuAt = 9; // a compressed-RTF value: header byte, 8 bytes, "LZFu"
constexpr std::int64_t kLzfuNeeds = 13;
constexpr std::uint8_t kLzfu[] = {'L', 'Z', 'F', 'u'};
constexpr std::uint8_t kLowestValueColumn = 0x19; // entries at or below hold no body
constexpr std::int64_t kAttachmentIdStride = 12;
constexpr std::size_t kNameMostUnits = 259;
constexpr std::size_t kFullNameMostUnits = 1000;
constexpr std::size_t kPhoneMostUnits = 100;
constexpr std::size_t kAddressMostUnits = 600;
constexpr std::size_t kEmailMostUnits = 300;

// Cuts UTF-8 text to at most `units` UTF-16 code units, never inside a character.
std::string cutToUnits(std::string_view s, std::size_t units) {
    std::size_t taken = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<std::uint8_t>(s[i]);
        std::size_t len = 1;
        std::size_t need = 1;
        if (lead >= 0xF0) {
            len = 4;
            need = 2;
        } else if (lead >= 0xE0) {
            len = 3;
        } else if (lead >= 0xC0) {
            len = 2;
        }
        if (taken + need > units) {
            break;
        }
        taken += need;
        i = std::min(s.size(), i + len);
    }
    return std::string(s.substr(0, i));
}

// One properties record on its page. Positions are page positions; `base` is where the tag
// entries' value offsets count from.
struct Record {
    const ByteView& page;
    std::uint64_t pageOffset;
    std::int64_t base;
    std::int64_t fixedLength; // the values start after the fixed part
    std::array<std::uint8_t, 2> n1013Code;

    [[nodiscard]] std::uint64_t fileOffset(std::int64_t at) const {
        return pageOffset + static_cast<std::uint64_t>(at);
    }
    // The value-offset position of the first `column` entry in [base, base + window), taking
    // every `step`th position.
    [[nodiscard]] std::optional<std::int64_t> findEntry(std::uint16_t column, std::int64_t window,
                                                        std::int64_t step) const {
        for (std::int64_t at = base; at < base + window; at += step) {
            if (IsColumn(page, at, column)) {
                return at + 2;
            }
        }
        return std::nullopt;
    }
};

std::string wideValue(const ByteView& p, std::int64_t start, std::size_t most,
                      std::int64_t byteLength) {
    const WideTextRule rule{{0x00, 0x01, 0x02}, most, true, byteLength};
    return Utf16ToUtf8(ReadWideUnits(p, start, rule).units);
}

// A contact field: the column's first entry in steps of four from the base; its UTF-16 text
// starts after the value's header byte.
std::string contactField(const Record& rec, std::uint16_t column, std::int64_t window,
                         std::size_t most) {
    const auto entry = rec.findEntry(column, window, kTagEntryBytes);
    if (!entry) {
        return {};
    }
    const ValueRange value = ValueRangeAt(rec.page, *entry);
    if (!value.usable()) {
        return {};
    }
    return wideValue(rec.page, rec.base + value.start + 1, most, value.size());
}

// The sender in single-byte text after the fixed part; taken only when the contents table gave
// none.
void readSender(const Record& rec, MessageEntry& m) {
    const ByteView& p = rec.page;
    if (p.matches(rec.base, kPropertiesAnchorNoSender) || rec.fixedLength == kNoSenderFixedPart) {
        return;
    }
    std::int64_t lengthAt = rec.base + rec.fixedLength;
    int codePage = 1252;
    if (p.matches(lengthAt + 1, {kTextMarker1252, kTextMarkerSecond})) {
        lengthAt += 3;
    } else if (p.matches(lengthAt + 1, {kTextMarker1251, kTextMarkerSecond})) {
        lengthAt += 3;
        codePage = 1251;
    } else {
        lengthAt += 5;
    }
    const std::int64_t length = p.byteOr0(lengthAt);
    if (length == 0) {
        return;
    }
    std::string candidate;
    const std::uint8_t first = p.byteOr0(lengthAt + 1);
    if (first >= 0x02 && first <= 0x7E) {
        std::string raw;
        for (std::int64_t i = lengthAt + 1; i <= lengthAt + length; ++i) {
            const std::uint8_t b = p.byteOr0(i);
            if (b == 0) {
                break;
            }
            raw.push_back(static_cast<char>(b));
        }
        candidate = CodePageToUtf8(raw, codePage);
    }
    if (m.sender.empty()) {
        m.sender = std::move(candidate);
    }
}

// First position in [from, from + kPrimaryWindow) of a code-page marker whose text count's
// second byte is not 0.
std::optional<std::int64_t> findTextMarker(const ByteView& p, std::int64_t from,
                                           std::uint8_t marker) {
    for (std::int64_t at = from; at < from + kPrimaryWindow; ++at) {
        if (p.matches(at, {marker, kTextMarkerSecond}) && p.byteOr0(at + kMarkerToText) != 0) {
            return at;
        }
    }
    return std::nullopt;
}

// The plain body from its 0x011A entry; false when the entry is unusable, which ends the record.
bool readPrimaryBody(const Record& rec, std::int64_t entry, BodyLocator& body) {
    const ValueRange value = ValueRangeAt(rec.page, entry);
    if (value.start <= rec.fixedLength || value.end <= rec.fixedLength || !value.usable()) {
        return false;
    }
    const std::int64_t start = rec.base + value.start;
    body.size = static_cast<std::uint16_t>(value.size());
    body.valueStart = rec.fileOffset(start);
    body.valueEnd = rec.fileOffset(rec.base + value.end);
    if (body.size == kLongValueReferenceSize) {
        body.reference = rec.page.u16BeOr0(start + 1);
        body.position = 0;
        return true;
    }
    if (const auto marker = findTextMarker(rec.page, start, kTextMarker1252)) {
        body.position = rec.fileOffset(*marker + kMarkerToText);
        body.codePage = 1252;
    }
    // The position rule knows only the 1252 marker; a 1251 marker still tells the reader of
    // the value range how to decode it.
    if (body.codePage == 0 && findTextMarker(rec.page, start, kTextMarker1251)) {
        body.codePage = 1251;
    }
    return true;
}

// The formatted body in the N1013-code column. nullopt when the record has no such entry;
// false when the entry is unusable, which ends the record.
std::optional<bool> readN1013Body(const Record& rec, BodyLocator& body) {
    // A code byte of 0x80 or more never matches, as the code bytes are compared as signed values.
    if (rec.n1013Code[0] >= 0x80 || rec.n1013Code[1] >= 0x80) {
        return std::nullopt;
    }
    const auto column = static_cast<std::uint16_t>(rec.n1013Code[0] | (rec.n1013Code[1] << 8));
    const auto entry = rec.findEntry(column, kTagWindow, kTagEntryBytes);
    if (!entry) {
        return std::nullopt;
    }
    const ValueRange value = ValueRangeAt(rec.page, *entry);
    if (!value.usable()) {
        return false;
    }
    const std::int64_t start = rec.base + value.start;
    body.size = static_cast<std::uint16_t>(value.size());
    body.position = rec.fileOffset(start);
    body.valueStart = body.position;
    body.valueEnd = rec.fileOffset(rec.base + value.end);
    if (body.size == kLongValueReferenceSize) {
        body.reference = rec.page.u16BeOr0(start + 1);
    }
    return true;
}

// Without an N1013-code entry: the first value, the plain body's aside, that holds a
// compressed-RTF stream or a 5-byte reference.
void findCompressedRtfBody(const Record& rec, std::optional<std::int64_t> primaryEntry,
                           BodyLocator& body) {
    const ByteView& p = rec.page;
    const auto n = static_cast<std::int64_t>(p.size());
    for (std::int64_t g = rec.base; g < rec.base + kTagWindow; g += kTagEntryBytes) {
        if (p.byteOr0(g) <= kLowestValueColumn || (primaryEntry && g + 2 == *primaryEntry)) {
            continue;
        }
        const ValueRange value = ValueRangeAt(p, g + 2);
        if (!value.usable()) {
            continue;
        }
        const std::int64_t start = rec.base + value.start;
        if (start + kLzfuNeeds > n) {
            continue;
        }
        if (p.matches(start + kLzfuAt, kLzfu)) {
            body.size = static_cast<std::uint16_t>(value.size());
        } else if (value.size() == static_cast<std::int64_t>(kLongValueReferenceSize) &&
                   p.byteOr0(start) == kLongValueReferenceSize) {
            body.size = kLongValueReferenceSize;
            body.reference = p.u16BeOr0(start + 1);
        } else {
            continue;
        }
        body.position = rec.fileOffset(start);
        body.valueStart = body.position;
        body.valueEnd = rec.fileOffset(rec.base + value.end);
        return;
    }
}

// Attachment ids, column 0x0104: a header byte (1 when an id follows it), then 12-byte
// elements. False when the entry is unusable, which ends the record.
bool readAttachmentIds(const Record& rec, std::vector<FolderId>& ids) {
    const auto entry = rec.findEntry(kColumnAttachmentIds, kAttachmentIdWindow, kTagEntryBytes);
    if (!entry) {
        return true;
    }
    const ValueRange value = ValueRangeAt(rec.page, *entry);
    if (!value.usable()) {
        return false;
    }
    const std::int64_t start = rec.base + value.start;
    if (rec.page.byteOr0(start) == 1) {
        AddAttachmentId(ids, rec.page.idOr0(start + 1));
    }
    for (std::int64_t k = 1 + kAttachmentIdStride; k < value.size(); k += kAttachmentIdStride) {
        AddAttachmentId(ids, rec.page.idOr0(start + k));
    }
    return true;
}

void readContact(const Record& rec, MessageEntry& m) {
    ContactEntry c;
    c.fullName = cutToUnits(m.subject, kFullNameMostUnits);
    if (const auto space = m.subject.find(' '); space != std::string::npos) {
        c.lastName = cutToUnits(std::string_view(m.subject).substr(0, space), kNameMostUnits);
        c.firstName = cutToUnits(std::string_view(m.subject).substr(space + 1), kNameMostUnits);
    }
    c.homePhone = contactField(rec, kColumnHomePhone, kTagWindow, kPhoneMostUnits);
    c.businessPhone = contactField(rec, kColumnBusinessPhone, kTagWindow, kPhoneMostUnits);
    c.mobilePhone = contactField(rec, kColumnMobilePhone, kTagWindow, kPhoneMostUnits);
    c.businessAddress =
        contactField(rec, kColumnBusinessAddress, kContactAddressWindow, kAddressMostUnits);
    c.emailAddress = contactField(rec, kColumnEmailAddress, kContactAddressWindow, kEmailMostUnits);
    AddContact(m.contacts, c);
}

// The record's fields in their order; an unusable body or attachment-id entry ends it there.
void decodeRecord(const Record& rec, MessageEntry& m) {
    readSender(rec, m);
    const auto primaryEntry = rec.findEntry(kColumnPrimaryBody, kPrimaryWindow, 1);
    if (primaryEntry && !readPrimaryBody(rec, *primaryEntry, m.primaryBody)) {
        return;
    }
    if (const auto n1013 = readN1013Body(rec, m.formattedBody)) {
        if (!*n1013) {
            return;
        }
    } else {
        findCompressedRtfBody(rec, primaryEntry, m.formattedBody);
    }
    if (!readAttachmentIds(rec, m.attachmentIds)) {
        return;
    }
    if (m.kind == kKindContact) {
        readContact(rec, m);
    }
}

} // namespace

bool AddAttachmentId(std::vector<FolderId>& ids, const FolderId& id) {
    if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
        return false;
    }
    ids.push_back(id);
    return true;
}

bool AddContact(std::vector<ContactEntry>& contacts, const ContactEntry& contact) {
    if (std::find(contacts.begin(), contacts.end(), contact) != contacts.end()) {
        return false;
    }
    contacts.push_back(contact);
    return true;
}

bool FindPropertyRecords(const ByteView& page, std::vector<PropertyRecordStart>& out) {
    out.clear();
    const auto n = static_cast<std::int64_t>(page.size());
    if (n <= kFirstAnchorByte) {
        return false;
    }
    std::vector<std::int64_t> anchors;
    // Both anchor forms have 0x01 at i + 1: only those positions are looked at.
    for (std::int64_t i = kFirstAnchorByte; i + 1 < n && anchors.size() < kMaxAnchors; ++i) {
        const auto hit = page.find(0x01, i + 1, n);
        if (!hit) {
            break;
        }
        i = *hit - 1;
        if (page.matches(i, kPropertiesAnchor) && page.byteOr0(i + 2) != 0) {
            // After 00 01 the record starts four bytes earlier.
            const bool shifted = page.byteOr0(i - 4) == 0 && page.byteOr0(i - 3) == 1;
            anchors.push_back(i - kBaseFromAnchor - (shifted ? 4 : 0));
        } else if (page.matches(i, kPropertiesAnchorNoSender) && page.byteOr0(i + 2) != 0 &&
                   !(page.byteOr0(i - 4) == 1 && page.byteOr0(i - 3) == 1)) {
            anchors.push_back(i - kBaseFromAnchor);
        }
    }
    if (anchors.empty()) {
        return false;
    }

    // Each message takes the first anchor with its id and a non-zero fixed part; what a message
    // gets depends only on its own record, so messages are visited per id.
    std::unordered_set<std::uint64_t> seen;
    for (const std::int64_t a : anchors) {
        if (!page.inside(a, 8) || page.byteOr0(a + kBaseFromAnchor + kFixedLengthAt) == 0) {
            continue;
        }
        const FolderId id = page.idOr0(a);
        if (seen.insert(IdKey(id)).second) {
            out.push_back(PropertyRecordStart{id, a});
        }
    }
    return true;
}

bool ApplyPropertyRecords(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          const std::vector<PropertyRecordStart>& starts) {
    bool touched = false;
    // The page's messages looked up first, their entries asked for all at once.
    std::vector<const MessageIdGroup*> groups(starts.size());
    for (std::size_t k = 0; k < starts.size(); ++k) {
        groups[k] = catalog.messages.byMessageId(starts[k].id);
        if (groups[k] != nullptr) {
            PrefetchForWrite(*groups[k]->begin());
        }
    }
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const PropertyRecordStart& start = starts[k];
        const MessageIdGroup* entries = groups[k];
        if (entries == nullptr) {
            continue;
        }
        const std::int64_t base = start.anchor + kBaseFromAnchor;
        const Record rec{page, pageOffset, base, page.byteOr0(base + kFixedLengthAt),
                         catalog.n1013Code};
        for (MessageEntry* m : *entries) {
            if (m->propertiesRead) {
                continue;
            }
            catalog.messages.updateFields([&] {
                m->propertiesRead = true;
                touched = true;
                decodeRecord(rec, *m);
            });
        }
    }
    if (touched) {
        catalog.messages.markLateIndexesStale();
    }
    return touched;
}

bool ReadMessageProperties(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset) {
    std::vector<PropertyRecordStart> starts;
    if (!FindPropertyRecords(page, starts)) {
        return false;
    }
    ApplyPropertyRecords(catalog, page, pageOffset, starts);
    return true;
}

} // namespace edb

#include "decode/properties.h"

#include "io/text.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace edb {

namespace {

constexpr std::int64_t kFirstAnchorByte = 32;
constexpr std::size_t kMaxAnchors = 300;
constexpr std::int64_t kBaseFromAnchor = 24; // record base R = anchor + 24
constexpr std::int64_t kFixedLengthAt = 2;   // t = P[R + 2]
constexpr std::uint8_t kNoSenderFixedPart = 0xE4;
constexpr std::int64_t kPrimaryWindow = 60; // column 0x011A entry and its text marker
constexpr std::int64_t kTagWindow = 300;
constexpr std::int64_t kAttachmentIdWindow = 60;
constexpr std::size_t kNameMostUnits = 259;
constexpr std::size_t kFullNameMostUnits = 1000;

// A value offset: byte 0 plus the low four bits of byte 1; the upper bits are flags.
std::int64_t valueOffset(const ByteView& p, std::int64_t at) {
    return p.byteOr0(at) + 256 * (p.byteOr0(at + 1) & 0x0F);
}

bool unusable(std::int64_t o1, std::int64_t o2) {
    return o1 == 0 || o2 == 0 || o2 <= o1;
}

std::uint16_t referenceAt(const ByteView& p, std::int64_t v) {
    return static_cast<std::uint16_t>(256 * p.byteOr0(v) + p.byteOr0(v + 1));
}

FolderId idAt(const ByteView& p, std::int64_t at) {
    FolderId id{};
    for (std::size_t k = 0; k < id.size(); ++k) {
        id[k] = p.byteOr0(at + static_cast<std::int64_t>(k));
    }
    return id;
}

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

std::string wideValue(const ByteView& p, std::int64_t start, std::size_t most,
                      std::int64_t byteLength) {
    const WideTextRule rule{{0x00, 0x01, 0x02}, most, true, byteLength};
    return Utf16ToUtf8(ReadWideUnits(p, start, rule).units);
}

// Field of a contact column: the first tag entry of the column in steps of four from R.
std::string contactField(const ByteView& p, std::int64_t r, std::uint16_t column,
                         std::int64_t window, std::size_t most) {
    const std::uint8_t lo = static_cast<std::uint8_t>(column & 0xFF);
    const std::uint8_t hi = static_cast<std::uint8_t>(column >> 8);
    for (std::int64_t g = r; g < r + window; g += 4) {
        if (!p.matches(g, {lo, hi})) {
            continue;
        }
        const std::int64_t o1 = valueOffset(p, g + 2);
        const std::int64_t o2 = valueOffset(p, g + 6);
        if (unusable(o1, o2)) {
            return {};
        }
        return wideValue(p, r + o1 + 1, most, o2 - o1);
    }
    return {};
}

struct Record {
    const ByteView& p;
    std::uint64_t pageOffset;
    std::int64_t r;
    std::int64_t t;
    std::array<std::uint8_t, 2> code;
};

void readSender(const Record& rec, MessageEntry& m) {
    const ByteView& p = rec.p;
    if (p.matches(rec.r, {0x03, 0x01}) || rec.t == kNoSenderFixedPart) {
        return;
    }
    std::int64_t q = rec.r + rec.t;
    int codePage = 1252;
    if (p.matches(q + 1, {0xE4, 0x04})) {
        q += 3;
    } else if (p.matches(q + 1, {0xE3, 0x04})) {
        q += 3;
        codePage = 1251;
    } else {
        q += 5;
    }
    const std::int64_t k = p.byteOr0(q);
    if (k == 0) {
        return;
    }
    std::string candidate;
    const std::uint8_t first = p.byteOr0(q + 1);
    if (first >= 0x02 && first <= 0x7E) {
        std::string raw;
        for (std::int64_t i = q + 1; i <= q + k; ++i) {
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

// Decodes the record into m; false when an unusable entry ends the decoding early.
bool decodeRecord(const Record& rec, MessageEntry& m, bool& referenceSet) {
    const ByteView& p = rec.p;
    const std::int64_t r = rec.r;
    readSender(rec, m);

    // Primary body, column 0x011A.
    std::int64_t primaryEntry = -1;
    for (std::int64_t i = r; i < r + kPrimaryWindow; ++i) {
        if (p.matches(i, {0x1A, 0x01})) {
            primaryEntry = i + 2;
            break;
        }
    }
    if (primaryEntry >= 0) {
        const std::int64_t o1 = valueOffset(p, primaryEntry);
        const std::int64_t o2 = valueOffset(p, primaryEntry + 4);
        if (o1 <= rec.t || o2 <= rec.t || o2 <= o1) {
            return false;
        }
        BodyLocator& body = m.primaryBody;
        body.size = static_cast<std::uint16_t>(o2 - o1);
        body.valueStart = rec.pageOffset + static_cast<std::uint64_t>(r + o1);
        body.valueEnd = rec.pageOffset + static_cast<std::uint64_t>(r + o2);
        if (body.size == 5) {
            body.reference = referenceAt(p, r + o1 + 1);
            body.position = 0;
            referenceSet = true;
        } else {
            for (std::int64_t j = r + o1; j < r + o1 + kPrimaryWindow; ++j) {
                if (p.matches(j, {0xE4, 0x04}) && p.byteOr0(j + 6) != 0) {
                    body.position = rec.pageOffset + static_cast<std::uint64_t>(j + 6);
                    body.codePage = 1252;
                    break;
                }
            }
            // The position rule knows only the 1252 marker; a 1251 marker still tells the
            // reader of the value range how to decode it.
            if (body.codePage == 0) {
                for (std::int64_t j = r + o1; j < r + o1 + kPrimaryWindow; ++j) {
                    if (p.matches(j, {0xE3, 0x04}) && p.byteOr0(j + 6) != 0) {
                        body.codePage = 1251;
                        break;
                    }
                }
            }
        }
    }

    // Formatted body: the N1013-code column. A code byte of 0x80 or more never matches, as
    // the code bytes are compared as signed values.
    const bool codeComparable = rec.code[0] < 0x80 && rec.code[1] < 0x80;
    bool formattedDone = false;
    if (codeComparable) {
        for (std::int64_t j = r; j < r + kTagWindow; j += 4) {
            if (!p.matches(j, {rec.code[0], rec.code[1]})) {
                continue;
            }
            const std::int64_t o1 = valueOffset(p, j + 2);
            const std::int64_t o2 = valueOffset(p, j + 6);
            if (unusable(o1, o2)) {
                return false;
            }
            BodyLocator& body = m.formattedBody;
            body.size = static_cast<std::uint16_t>(o2 - o1);
            body.position = rec.pageOffset + static_cast<std::uint64_t>(r + o1);
            body.valueStart = body.position;
            body.valueEnd = rec.pageOffset + static_cast<std::uint64_t>(r + o2);
            if (body.size == 5) {
                body.reference = referenceAt(p, r + o1 + 1);
                referenceSet = true;
            }
            formattedDone = true;
            break;
        }
    }
    if (!formattedDone) {
        // Compressed-RTF search over every tag entry but the primary body's.
        const auto n = static_cast<std::int64_t>(p.size());
        for (std::int64_t g = r; g < r + kTagWindow; g += 4) {
            if (p.byteOr0(g) <= 0x19 || (primaryEntry >= 0 && g + 2 == primaryEntry)) {
                continue;
            }
            const std::int64_t o1 = valueOffset(p, g + 2);
            const std::int64_t o2 = valueOffset(p, g + 6);
            if (unusable(o1, o2)) {
                continue;
            }
            const std::int64_t v = r + o1;
            if (v + 13 > n) {
                continue;
            }
            BodyLocator& body = m.formattedBody;
            if (p.matches(v + 9, {'L', 'Z', 'F', 'u'})) {
                body.size = static_cast<std::uint16_t>(o2 - o1);
                body.position = rec.pageOffset + static_cast<std::uint64_t>(v);
            } else if (o2 - o1 == 5 && p.byteOr0(v) == 5) {
                body.size = 5;
                body.position = rec.pageOffset + static_cast<std::uint64_t>(v);
                body.reference = referenceAt(p, v + 1);
                referenceSet = true;
            } else {
                continue;
            }
            body.valueStart = rec.pageOffset + static_cast<std::uint64_t>(v);
            body.valueEnd = rec.pageOffset + static_cast<std::uint64_t>(r + o2);
            break;
        }
    }

    // Attachment ids, column 0x0104: a header byte, then 12-byte elements.
    for (std::int64_t j = r; j < r + kAttachmentIdWindow; j += 4) {
        if (!p.matches(j, {0x04, 0x01})) {
            continue;
        }
        const std::int64_t o1 = valueOffset(p, j + 2);
        const std::int64_t o2 = valueOffset(p, j + 6);
        if (unusable(o1, o2)) {
            return false;
        }
        const std::int64_t v = r + o1;
        const std::int64_t s = o2 - o1;
        if (p.byteOr0(v) == 1) {
            AddAttachmentId(m.attachmentIds, idAt(p, v + 1));
        }
        for (std::int64_t k = 13; k < s; k += 12) {
            AddAttachmentId(m.attachmentIds, idAt(p, v + k));
        }
        break;
    }

    if (m.kind == kKindContact) {
        ContactEntry c;
        c.fullName = cutToUnits(m.subject, kFullNameMostUnits);
        if (const auto space = m.subject.find(' '); space != std::string::npos) {
            c.lastName = cutToUnits(std::string_view(m.subject).substr(0, space), kNameMostUnits);
            c.firstName = cutToUnits(std::string_view(m.subject).substr(space + 1), kNameMostUnits);
        }
        c.homePhone = contactField(p, r, 0x01C8, kTagWindow, 100);
        c.businessPhone = contactField(p, r, 0x01C9, kTagWindow, 100);
        c.mobilePhone = contactField(p, r, 0x01C1, kTagWindow, 100);
        c.businessAddress = contactField(p, r, 0x019F, 120, 600);
        c.emailAddress = contactField(p, r, 0x019A, 120, 300);
        AddContact(m.contacts, c);
    }
    return true;
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
    const std::uint8_t* d = page.data();
    for (std::int64_t i = kFirstAnchorByte; i + 1 < n && anchors.size() < kMaxAnchors; ++i) {
        const void* hit = std::memchr(d + i + 1, 0x01, static_cast<std::size_t>(n - i - 1));
        if (hit == nullptr) {
            break;
        }
        i = static_cast<const std::uint8_t*>(hit) - d - 1;
        if (page.matches(i, {0x01, 0x01}) && page.byteOr0(i + 2) != 0) {
            const bool shifted = page.byteOr0(i - 4) == 0 && page.byteOr0(i - 3) == 1;
            anchors.push_back(shifted ? i - 28 : i - 24);
        } else if (page.matches(i, {0x03, 0x01}) && page.byteOr0(i + 2) != 0 &&
                   !(page.byteOr0(i - 4) == 1 && page.byteOr0(i - 3) == 1)) {
            anchors.push_back(i - 24);
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
        const FolderId id = idAt(page, a);
        if (seen.insert(IdKey(id)).second) {
            out.push_back(PropertyRecordStart{id, a});
        }
    }
    return true;
}

bool ApplyPropertyRecords(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          const std::vector<PropertyRecordStart>& starts) {
    bool referenceSet = false;
    bool touched = false;
    for (const PropertyRecordStart& start : starts) {
        const MessageIdGroup* entries = catalog.messages.byMessageId(start.id);
        if (entries == nullptr) {
            continue;
        }
        const std::int64_t a = start.anchor;
        const std::int64_t r = a + kBaseFromAnchor;
        const Record rec{page, pageOffset, r, page.byteOr0(r + kFixedLengthAt), catalog.n1013Code};
        for (MessageEntry* m : *entries) {
            if (m->propertiesRead) {
                continue;
            }
            catalog.messages.updateFields([&] {
                m->propertiesRead = true;
                touched = true;
                decodeRecord(rec, *m, referenceSet);
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

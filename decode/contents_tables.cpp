#include "decode/contents_tables.h"

#include "decode/tag_entries.h"
#include "io/format.h"
#include "io/text.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace edb {

namespace {

// Catalog row of a contents table, relative to the first character c of the table name.
constexpr std::int64_t kRowObjectId = -34;
constexpr std::int64_t kRowRootPage = -24;
constexpr std::int64_t kRowNameLength = -4;
constexpr std::int64_t kRowMarker = -3;
constexpr std::int64_t kRowHyphen = 1; // every table name is "<hex>-<hex>"

// A table root lists its children every 15 bytes from byte 73.
constexpr std::int64_t kFirstChild = 73;
constexpr std::int64_t kChildStride = 15;

// Contents-table record, relative to the first byte x of the folder id.
constexpr std::int64_t kRecordFiletime = -20;
constexpr std::int64_t kRecordMessageId = 16;
constexpr std::int64_t kRecordTagBase = 33;
constexpr std::int64_t kTagScanBytes = 60;

constexpr std::size_t kSenderUnits = 300;
constexpr std::size_t kSubjectUnits = 1000;

// Rows of table 99 carry a one-character second subject piece.
constexpr std::uint32_t kShortSubjectTable = 99;

// A table name is at most 4 + 1 + 16 characters; built without allocating, since every
// catalog page tries every folder still without a table.
class NameBuffer {
public:
    void push(char c) { m_chars[m_size++] = c; }
    void pushHex(std::uint8_t b) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        if (b >= 16) {
            push(kDigits[b >> 4]);
        }
        push(kDigits[b & 0x0F]);
    }
    [[nodiscard]] bool empty() const { return m_size == 0; }
    [[nodiscard]] std::string_view view() const { return {m_chars.data(), m_size}; }

private:
    std::array<char, 24> m_chars{};
    std::size_t m_size = 0;
};

NameBuffer tableName(const FolderId& id) {
    NameBuffer name;
    for (std::size_t j = 0; j < 2; ++j) {
        if (id[j] != 0) {
            name.pushHex(id[j]);
        }
    }
    if (name.empty()) {
        return name;
    }
    name.push('-');
    std::size_t s = 0; // the whole id follows when b2..b7 are all zero
    for (std::size_t j = 2; j < 8; ++j) {
        if (id[j] != 0) {
            s = j;
            break;
        }
    }
    for (std::size_t j = s; j < 8; ++j) {
        if (id[j] == 0) {
            name.push('0');
            name.push('0');
        } else if (id[j] < 16 && j != s) {
            name.push('0');
            name.pushHex(id[j]);
        } else {
            name.pushHex(id[j]);
        }
    }
    return name;
}

// Header fields of the page whose first byte lies at `offset`; owner 0 past the end.
struct PageHeader {
    bool inside = false;
    std::uint32_t previous = 0;
    std::uint32_t next = 0;
    std::uint32_t owner = 0;
};

PageHeader readHeader(const StoreCatalog& catalog, std::uint64_t offset) {
    PageHeader h;
    if (offset >= catalog.storeSize) {
        return h;
    }
    std::array<std::uint8_t, kPageHeaderRead> buf{};
    const std::size_t n =
        ReadPage(catalog.storeFile, catalog.storeSize, offset, buf.data(), buf.size());
    const ByteView v(buf.data(), n);
    h.inside = true;
    h.previous = v.u32LeOr0(kPagePreviousAt);
    h.next = v.u32LeOr0(kPageNextAt);
    h.owner = v.u32LeOr0(kPageOwnerAt);
    return h;
}

// Position in 512-byte units of a page number.
std::uint64_t pagePosition(std::uint32_t pageNumber) {
    return PageNumberOffset(pageNumber) / 512;
}

std::int64_t lowByteLength(const ByteView& p, std::int64_t at) {
    const std::int64_t len = std::int64_t{p.byteOr0(at + 4)} - std::int64_t{p.byteOr0(at)};
    return len < 0 ? 0 : len;
}

std::string readSender(const ByteView& p, std::int64_t b) {
    for (std::int64_t i = b; i < b + kTagScanBytes; ++i) {
        if (IsColumn(p, i, kColumnSubjectPrefix)) {
            return {};
        }
        if (IsColumn(p, i, kColumnSender) || IsColumn(p, i, kColumnSenderAlt)) {
            if (!ValueRangeAt(p, i + 2).usable()) {
                return {};
            }
            const std::int64_t offset = p.byteOr0(i + 2);
            std::int64_t length = std::int64_t{p.byteOr0(i + 6)} - offset;
            if (length < 0) {
                length = 0;
            }
            const WideText t = ReadWideUnits(
                p, b + offset, {{0x00, 0x01}, kSenderUnits, /*limitByLength=*/true, length});
            return Utf16ToUtf8(t.units);
        }
    }
    return {};
}

struct SubjectColumns {
    bool foundA = false;
    bool foundB = false;
    std::int64_t entryA = 0; // position of the value offset bytes
    std::int64_t entryB = 0;
};

SubjectColumns findColumns(const ByteView& p, std::int64_t b, std::uint16_t a, std::uint16_t bCol) {
    SubjectColumns s;
    for (std::int64_t i = b; i < b + kTagScanBytes; ++i) {
        if (!s.foundA && IsColumn(p, i, a)) {
            s.foundA = true;
            s.entryA = i + 2;
        } else if (IsColumn(p, i, bCol)) {
            s.foundB = true;
            s.entryB = i + 2;
            break;
        }
    }
    return s;
}

// The second piece is taken code unit by code unit; a stop ends it and drops what came before
// the stop (one unit, or two before the 0x01 0x3C marker). A unit outside the page reads as 0,
// a stop, so a piece that starts past the page's end drops the first piece's last character.
void appendSecondPiece(const ByteView& p, std::int64_t start, std::int64_t length,
                       std::u16string& buffer) {
    for (std::int64_t l = 0; buffer.size() < kSubjectUnits && 2 * l < length - 1; ++l) {
        const std::uint16_t unit = p.u16LeOr0(start + 2 * l);
        const auto low = static_cast<std::uint8_t>(unit & 0xFF);
        if (unit == 0x3C01) {
            if (buffer.size() > 2) {
                buffer.resize(buffer.size() - 2);
            }
            return;
        }
        if (low == 0x00 || low == 0x01 || low == 0x02) {
            if (!buffer.empty()) {
                buffer.pop_back();
            }
            return;
        }
        buffer.push_back(static_cast<char16_t>(unit));
    }
}

std::string readSubject(const ByteView& p, std::int64_t b, std::uint32_t tableObjectId) {
    constexpr std::uint16_t kPasses[2][2] = {{kColumnSubjectPrefix, kColumnSubject},
                                             {kColumnSubject, kColumnAfterSubject}};
    for (int pass = 0; pass < 2; ++pass) {
        const SubjectColumns s = findColumns(p, b, kPasses[pass][0], kPasses[pass][1]);
        if (!(s.foundA && s.foundB)) {
            continue;
        }
        const std::int64_t offsetA = ValueOffset(p, s.entryA);
        const std::int64_t lengthA =
            ValueRangeAt(p, s.entryA).usable() ? lowByteLength(p, s.entryA) : 0;
        const std::int64_t offsetB = ValueOffset(p, s.entryB);
        std::int64_t lengthB = lowByteLength(p, s.entryB);
        if (tableObjectId == kShortSubjectTable) {
            lengthB = 1;
        }
        // Values past 256 bytes: the next offset's high nibble lengthens the low-byte difference.
        const std::int64_t h = p.byteOr0(s.entryB + 5) & 0x0F;
        if (h == 1 || h == 2) {
            lengthB += 256 * h;
        } else if (h >= 3) {
            lengthB += h + 510;
        }
        if (!ValueRangeAt(p, s.entryB).usable()) {
            lengthB = 0;
        }
        if (pass == 1) {
            lengthB = 1; // column 0x011A alone makes the subject
        }
        WideText first = ReadWideUnits(
            p, b + offsetA, {{0x00, 0x01, 0x02}, kSubjectUnits, /*limitByLength=*/true, lengthA});
        appendSecondPiece(p, b + offsetB, lengthB, first.units);
        return Utf16ToUtf8(first.units);
    }
    return {};
}

} // namespace

std::string ContentsTableName(const FolderId& id) {
    return std::string(tableName(id).view());
}

FolderTableFinder::FolderTableFinder(StoreCatalog& catalog) : m_catalog(catalog) {
    std::size_t position = 0;
    for (FolderNode& folder : catalog.folderList) {
        const NameBuffer name = tableName(folder.id);
        m_byName[std::string(name.view())].push_back(Indexed{position, &folder});
        ++position;
    }
}

bool FindFolderTables(StoreCatalog& catalog, const ByteView& page) {
    return FolderTableFinder(catalog).FindFolderTables(page);
}

bool FolderTableFinder::FindFolderTables(const ByteView& page) {
    StoreCatalog& catalog = m_catalog;
    const auto n = static_cast<std::int64_t>(page.size());
    bool anyCandidate = false;
    // Usable rows by name, first row of each name only: a folder takes the first candidate
    // whose name, length byte and object id fit, so later rows of the same name never win.
    std::unordered_map<std::string_view, std::int64_t> rows;
    for (std::int64_t i = 0; i < n; ++i) {
        if (page.byteOr0(i) != kCatalogRowMarker ||
            !page.matches(i - kRowMarker + kRowHyphen, {kTableNameHyphen})) {
            continue;
        }
        anyCandidate = true;
        const std::int64_t c = i + 3;
        const auto length = page.u8(c + kRowNameLength);
        if (!length || !page.matches(c + kRowMarker, {kCatalogRowMarker}) ||
            !page.inside(c, *length)) {
            continue;
        }
        const auto objectId = page.readU32Le(c + kRowObjectId);
        if (!objectId || *objectId == 0) {
            continue;
        }
        rows.emplace(page.chars(c, *length), c);
    }
    if (!anyCandidate) {
        return false;
    }
    if (rows.empty()) {
        return true;
    }

    // The folders still without a table that a row names, taken in folder-list order.
    struct Match {
        std::size_t position;
        FolderNode* folder;
        std::int64_t c;
    };
    std::vector<Match> matches;
    std::string key;
    for (const auto& [name, c] : rows) {
        key.assign(name);
        const auto it = m_byName.find(key);
        if (it == m_byName.end()) {
            continue;
        }
        for (const Indexed& f : it->second) {
            if (!f.folder->tableFound.load()) {
                matches.push_back(Match{f.position, f.folder, c});
            }
        }
    }
    std::sort(matches.begin(), matches.end(),
              [](const Match& a, const Match& b) { return a.position < b.position; });
    for (const Match& m : matches) {
        FolderNode& folder = *m.folder;
        const std::int64_t c = m.c;
        const std::uint32_t objectId = page.u32LeOr0(c + kRowObjectId);
        const std::uint32_t root = page.u32LeOr0(c + kRowRootPage);
        OffsetList working;
        const PageHeader header = readHeader(catalog, PageNumberOffset(root));
        if (header.inside && header.owner == objectId) {
            CollectTablePages(catalog, objectId, pagePosition(root), working);
        }
        folder.tableFound.store(true);
        catalog.folderTables.AddFolderTable(folder.id, objectId, folder.kind, std::move(working));
    }
    return true;
}

bool CollectTablePages(StoreCatalog& catalog, std::uint32_t objectId, std::uint64_t rootPosition,
                       OffsetList& working) {
    working.clear();
    std::vector<std::uint8_t> rootBytes(kPageSize);
    std::size_t m = 0;
    if (rootPosition <= UINT64_MAX / 512) {
        m = ReadPage(catalog.storeFile, catalog.storeSize, rootPosition * 512, rootBytes.data());
    }
    const ByteView root(rootBytes.data(), m);
    bool last = working.AddOffset(rootPosition);

    // Children named in the root.
    for (std::int64_t at = kFirstChild; at < static_cast<std::int64_t>(m); at += kChildStride) {
        const std::uint32_t child = root.u32LeOr0(at);
        if (child == 0) {
            break;
        }
        const std::uint64_t s = pagePosition(child);
        if (s * 512 >= catalog.storeSize || readHeader(catalog, s * 512).owner != objectId) {
            break;
        }
        last = working.AddOffset(s);
        if (!last) {
            break;
        }
    }

    // Back from the first child to the head of its chain.
    std::uint32_t p = root.u32LeOr0(kFirstChild);
    if (p != 0) {
        std::unordered_set<std::uint32_t> seen;
        while (seen.insert(p).second) {
            const PageHeader h = readHeader(catalog, PageNumberOffset(p));
            if (!h.inside || h.owner != objectId || h.previous == 0) {
                break;
            }
            p = h.previous;
        }
    }

    // Forward along the chain.
    std::unordered_set<std::uint32_t> seen;
    while (seen.insert(p).second) {
        const PageHeader h = readHeader(catalog, PageNumberOffset(p));
        if (!h.inside || h.owner != objectId) {
            break;
        }
        last = working.AddOffset(pagePosition(p));
        if (h.next == 0) {
            break;
        }
        p = h.next;
    }
    return last;
}

const FolderTable* DecodeMessageEntries(const StoreCatalog& catalog, const ByteView& page,
                                        std::vector<DecodedMessageEntry>& out) {
    out.clear();
    const std::uint32_t owner = page.u32LeOr0(kPageOwnerAt);
    if (owner == 0) {
        return nullptr;
    }
    const FolderTable* table = catalog.folderTables.findByObjectId(owner);
    if (table == nullptr) {
        return nullptr;
    }
    const auto n = static_cast<std::int64_t>(page.size());
    const std::span<const std::uint8_t> folderId(table->folderId);
    for (std::int64_t x = 0;; ++x) {
        const auto hit = page.find(folderId, x, n);
        if (!hit) {
            break;
        }
        x = *hit;
        const std::int64_t b = x + kRecordTagBase;
        DecodedMessageEntry& e = out.emplace_back();
        e.sender = readSender(page, b);
        e.subject = readSubject(page, b, table->tableObjectId);
        e.filetime = page.u64LeOr0(x + kRecordFiletime);
        e.messageId = page.idOr0(x + kRecordMessageId);
    }
    return table;
}

void AddDecodedMessageEntries(StoreCatalog& catalog, const FolderTable& table,
                              std::vector<DecodedMessageEntry>& entries) {
    for (DecodedMessageEntry& e : entries) {
        catalog.messages.AddMessage(table.folderId, e.messageId, std::move(e.subject),
                                    std::move(e.sender), e.filetime, table.kind);
    }
}

bool ReadMessageEntries(StoreCatalog& catalog, const ByteView& page) {
    std::vector<DecodedMessageEntry> entries;
    const FolderTable* table = DecodeMessageEntries(catalog, page, entries);
    if (table == nullptr || entries.empty()) {
        return false;
    }
    AddDecodedMessageEntries(catalog, *table, entries);
    return true;
}

} // namespace edb

#include "scan/discovery.h"

#include "decode/tag_entries.h"
#include "io/format.h"
#include "io/text.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace edb {

namespace {
constexpr std::size_t kMaxNameUnits = 260;
constexpr std::size_t kCapacity = 300;
constexpr FolderId kNoParent{};
// A folder record's candidate: 0x01 at k + 3 and k + 7, its parent id searched from k - 100.
constexpr std::int64_t kCandidateReach = 100;
constexpr std::int64_t kClassReach = 100; // from U to the container-class entry

// Where a mailbox record anchored at `a` keeps its fields, or nothing.
struct MailboxRecord {
    std::int64_t b = 0;
    std::int64_t nameStart = 0;
};

std::optional<MailboxRecord> mailboxRecordAt(const ByteView& page, std::int64_t a) {
    std::int64_t b = 0;
    // The form is chosen by the id test alone; the other form is never tried after it.
    if (page.matches(a + 63, {0x01, 0x00})) {
        b = a + 61;
    } else if (page.matches(a + 65, {0x01, 0x00})) {
        b = a + 63;
    } else {
        return std::nullopt;
    }
    const auto len = page.u8(b);
    if (!len || page.u8(b + *len + 3) != std::optional<std::uint8_t>(0x01)) {
        return std::nullopt;
    }
    const auto m = page.u8(b + *len + 8);
    if (!m) {
        return std::nullopt;
    }
    return MailboxRecord{b, b + *len + 3 + *m};
}

// Folder record fields at the parent-id position A, when the whole pattern holds.
struct FolderRecord {
    FolderId ownId{};
    std::int64_t u = 0;
    std::int64_t nameStart = 0;
    std::int64_t nameLength = 0;
};

// The tests that matching applies at A (id aside).
bool matchShapeAt(const ByteView& page, std::int64_t a, std::int16_t* s1Out = nullptr) {
    const auto s1 = page.readI16Le(a - 10);
    if (!s1 || *s1 < 1 || *s1 > 1024) {
        return false;
    }
    const auto own = page.readI16Le(a - 8);
    if (!own || *own <= 0) {
        return false;
    }
    if (page.u8(a - 10 + *s1 + 3) != std::optional<std::uint8_t>(0x01)) {
        return false;
    }
    if (s1Out != nullptr) {
        *s1Out = *s1;
    }
    return true;
}

std::optional<FolderRecord> folderRecordAt(const ByteView& page, std::int64_t a) {
    std::int16_t s1 = 0;
    if (!matchShapeAt(page, a, &s1)) {
        return std::nullopt;
    }
    const auto own = page.readId(a - 8);
    if (!own || !page.inside(a, 8)) {
        return std::nullopt;
    }
    const std::int64_t u = a - 10 + s1 + 3;
    if (!IsColumn(page, u + 3, kColumnFolderBeforeName) ||
        !IsColumn(page, u + 7, kColumnFolderName)) {
        return std::nullopt;
    }
    // The name's tag entry: its value offset, then the next entry's, whose high nibble
    // lengthens the low-byte difference of values past 256 bytes.
    const std::int64_t v = u + 9;
    if (!page.inside(v, 6)) {
        return std::nullopt;
    }
    const std::uint8_t offsetLow = page.byteOr0(v);
    const std::int64_t x = ValueOffset(page, v);
    const int h = page.byteOr0(v + 5) & 0x0F;
    const std::int64_t g = h == 0 ? 0 : (h <= 2 ? 256 * h : h + 510);
    const std::int64_t y = std::max(0, int{page.byteOr0(v + 4)} - int{offsetLow}) + g;
    return FolderRecord{*own, u, u + x, y};
}

bool classTextIs(const ByteView& page, std::int64_t z, std::string_view want) {
    for (std::size_t k = 0; k < want.size(); ++k) {
        const auto unit = page.readU16Le(z + 2 * static_cast<std::int64_t>(k));
        if (!unit || *unit > 0x7F) {
            return false;
        }
        char c = static_cast<char>(*unit);
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != want[k]) {
            return false;
        }
    }
    return true;
}

char folderKind(const ByteView& page, std::int64_t u) {
    for (std::int64_t q = u; q < u + kClassReach; ++q) {
        if (!IsColumn(page, q, kColumnFolderClass)) {
            continue;
        }
        const auto w0 = page.u8(q + 2);
        const auto w1 = page.u8(q + 3);
        if (!w0 || !w1) {
            return 0;
        }
        const std::int64_t z = u + *w0 + 256 * (*w1 & 0x0F);
        if (z < 0 || z > static_cast<std::int64_t>(page.size())) {
            return 0;
        }
        if (classTextIs(page, z, "IPF.CONTACT")) {
            return kKindContact;
        }
        if (classTextIs(page, z, "IPF.APPOINTMENT")) {
            return kKindAppointment;
        }
        return 0;
    }
    return 0;
}

// Parents of one sweep, by id: the place of the first parent with that id.
class ParentIndex {
public:
    void add(const FolderId& id) { m_first.try_emplace(IdKey(id), m_count++); }
    [[nodiscard]] std::optional<std::size_t> firstPlace(const FolderId& id) const {
        auto it = m_first.find(IdKey(id));
        if (it == m_first.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    [[nodiscard]] bool empty() const { return m_count == 0; }

private:
    std::unordered_map<std::uint64_t, std::size_t> m_first;
    std::size_t m_count = 0;
};

struct Match {
    std::size_t parentPlace;
    std::size_t candidate;
    std::int64_t a;
};

// One owner-8 page of one sweep.
void discoverInPage(StoreCatalog& cat, const ByteView& page, ParentIndex& parents,
                    bool parentsAreFolderList, FolderList& sweepList, ParentIndex& sweepIndex,
                    bool& added) {
    const auto n = static_cast<std::int64_t>(page.size());
    std::vector<std::int64_t> candidates;
    for (std::int64_t k = kCandidateReach + 1; k + 7 < n && candidates.size() < kCapacity; ++k) {
        if (page.byteOr0(k + 3) == 0x01 && page.byteOr0(k + 7) == 0x01) {
            candidates.push_back(k - kCandidateReach);
        }
    }
    if (candidates.empty()) {
        return;
    }
    // Matching: parents in order, candidates in order, the first A per (parent, candidate).
    // Parents that share an id find the same A, so one pass per distinct id is enough.
    std::vector<Match> found;
    std::vector<std::uint64_t> seen;
    for (std::size_t ci = 0; ci < candidates.size(); ++ci) {
        const std::int64_t c = candidates[ci];
        seen.clear();
        for (std::int64_t a = c; a < c + kCandidateReach; a += 2) {
            const auto id = page.readId(a);
            if (!id || !matchShapeAt(page, a)) {
                continue;
            }
            const auto place = parents.firstPlace(*id);
            if (!place) {
                continue;
            }
            const std::uint64_t key = IdKey(*id);
            if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
                continue;
            }
            seen.push_back(key);
            found.push_back(Match{*place, ci, a});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Match& l, const Match& r) {
        return l.parentPlace != r.parentPlace ? l.parentPlace < r.parentPlace
                                              : l.candidate < r.candidate;
    });
    std::vector<Match> matched;
    for (const Match& m : found) {
        if (matched.size() >= kCapacity) {
            break;
        }
        const bool dup =
            std::any_of(matched.begin(), matched.end(), [&](const Match& e) { return e.a == m.a; });
        if (!dup) {
            matched.push_back(m);
        }
    }
    // Recording: parents in order, then matched positions in order. A folder added here joins
    // the parents, but its id is already among them, so the order by first place holds.
    std::vector<std::size_t> places;
    for (const Match& m : matched) {
        places.push_back(m.parentPlace);
    }
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    for (const std::size_t place : places) {
        for (const Match& m : matched) {
            if (m.parentPlace != place) {
                continue;
            }
            const auto rec = folderRecordAt(page, m.a);
            if (!rec) {
                continue;
            }
            const FolderId parentId = page.idOr0(m.a);
            const WideText name = ReadWideUnits(
                page, rec->nameStart,
                WideTextRule{{0x00, 0x01, 0x02}, kMaxNameUnits, true, rec->nameLength});
            const char kind = folderKind(page, rec->u);
            const std::string text = Utf16ToUtf8(name.units);
            if (cat.folderList.AddFolder(parentId, rec->ownId, text, kind)) {
                if (parentsAreFolderList) {
                    parents.add(rec->ownId);
                }
                if (sweepList.AddFolder(parentId, rec->ownId, text, kind)) {
                    sweepIndex.add(rec->ownId);
                }
                added = true;
            }
        }
    }
}
} // namespace

void ReadMailboxRecords(StoreCatalog& catalog, const ByteView& page) {
    const auto n = static_cast<std::int64_t>(page.size());
    std::int64_t i = 0;
    while (i < n) {
        if (!page.matches(i, kMailboxMarker)) {
            ++i;
            continue;
        }
        const auto rec = mailboxRecordAt(page, i);
        const auto id = rec ? page.readId(rec->b + 2) : std::nullopt;
        if (!rec || !id) {
            ++i;
            continue;
        }
        const WideText name =
            ReadWideUnits(page, rec->nameStart, WideTextRule{{0x00, 0x01}, kMaxNameUnits});
        catalog.folderList.AddFolder(kNoParent, *id, Utf16ToUtf8(name.units), 0);
        i = name.end;
    }
}

void RunMailboxPass(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> buf(kPageSize);
    std::int64_t k = 0;
    for (const PageEntry& e : cat.pageList.entries()) {
        ++k;
        ctx.checkpoint();
        if (e.owner == kOwnerMailboxes) {
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, e.offset, buf.data());
            ReadMailboxRecords(cat, ByteView(buf.data(), n));
        }
        ctx.pageListProgress(k);
    }
}

std::vector<std::string> ListMailboxes(StoreCatalog& catalog) {
    std::vector<std::string> rows;
    for (const FolderNode& f : catalog.folderList) {
        if (f.isMailbox()) {
            rows.push_back(f.name);
            catalog.mailboxList.AddFolder(kNoParent, f.id, f.name, 0);
        }
    }
    return rows;
}

void RunFolderDiscovery(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> buf(kPageSize);

    // The first sweep's parents are the folder list itself, growing as it goes.
    ParentIndex parents;
    for (const FolderNode& f : cat.folderList) {
        parents.add(f.id);
    }
    bool first = true;
    auto previousSweep = std::make_unique<FolderList>();
    for (;;) {
        auto sweepList = std::make_unique<FolderList>();
        ParentIndex sweepIndex;
        bool added = false;
        std::int64_t c = 0;
        for (const PageEntry& e : cat.pageList.entries()) {
            ++c;
            ctx.checkpoint();
            if (e.owner == kOwnerFolders) {
                const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, e.offset, buf.data());
                discoverInPage(cat, ByteView(buf.data(), n), parents, first, *sweepList, sweepIndex,
                               added);
            }
            ctx.pageListProgress(c);
        }
        if (!added) {
            break;
        }
        first = false;
        parents = std::move(sweepIndex);
        previousSweep = std::move(sweepList);
    }
}

} // namespace edb

#include "frontend/store_file_texts.h"
#include "frontend/scan_texts.h"
#include "io/format.h"

#include <array>
#include <cstring>
#include <fstream>

namespace edb {

namespace {

// The database header at the start of the file (all little-endian).
constexpr std::size_t kChecksumOffset = 0;
constexpr std::size_t kSignatureOffset = 4;
constexpr std::uint32_t kSignature = 0x89ABCDEF; // also the checksum's seed
constexpr std::size_t kFormatVersionOffset = 8;
constexpr std::uint32_t kFormatVersion = 0x620;
constexpr std::size_t kFileTypeOffset = 12;
constexpr std::uint32_t kFileTypeDatabase = 0;
constexpr std::size_t kPageSizeOffset = 236; // 0 in headers older than the field: 4096
constexpr std::size_t kHeaderRead = kPageSize;

using Header = std::array<unsigned char, kHeaderRead>;

std::uint32_t readU32Le(const Header& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The engine's header checksum: the seed XOR every 32-bit word of the header page after the
// checksum itself; and the fields a database file of the engine's format carries.
bool wholeDatabaseHeader(const Header& b) {
    std::uint32_t sum = kSignature;
    for (std::size_t at = kChecksumOffset + 4; at + 4 <= b.size(); at += 4) {
        sum ^= readU32Le(b, at);
    }
    return sum == readU32Le(b, kChecksumOffset) &&
           readU32Le(b, kFormatVersionOffset) == kFormatVersion &&
           readU32Le(b, kFileTypeOffset) == kFileTypeDatabase;
}

} // namespace

NoMailboxFacts ExamineNoMailboxFile(const std::string& path, std::int64_t recordedPages,
                                    bool storeTables) {
    NoMailboxFacts f;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        f.reason = NoMailboxReason::Unreadable;
        return f;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    f.size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    if (f.size == 0) {
        f.reason = NoMailboxReason::Empty;
        return f;
    }
    if (f.size < kPageSize) {
        f.reason = NoMailboxReason::TooShort;
        return f;
    }
    Header head{};
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) {
        f.reason = NoMailboxReason::Unreadable;
        return f;
    }
    const bool ese = readU32Le(head, kSignatureOffset) == kSignature;
    const std::uint32_t pageSize = readU32Le(head, kPageSizeOffset);
    f.pageSize = pageSize == 0 ? static_cast<std::uint32_t>(kPageSize) : pageSize;
    if (ese && f.pageSize != kPageSize) {
        // Pages of another size never line up with a store's: whatever was recorded is chance.
        f.reason = NoMailboxReason::OtherPageSize;
    } else if (recordedPages > 0 && !(ese && wholeDatabaseHeader(head) && !storeTables)) {
        f.reason = NoMailboxReason::Damaged;
    } else {
        f.reason = ese ? NoMailboxReason::OtherEseKind : NoMailboxReason::NotEse;
    }
    if (!ese) {
        f.pageSize = 0;
    }
    return f;
}

std::string NoMailboxText(const std::string& path, const NoMailboxFacts& f) {
    const std::string page = std::to_string(kPageSize);
    switch (f.reason) {
    case NoMailboxReason::Empty:
        return path + " is empty: it holds no mailbox.";
    case NoMailboxReason::TooShort:
        return path + " is too short to hold one " + page + "-byte page (" +
               std::to_string(f.size) + " bytes): it holds no mailbox.";
    case NoMailboxReason::NotEse:
        return path + " is not an ESE database, so not an Exchange store: it holds no mailbox.";
    case NoMailboxReason::OtherPageSize:
        return path + " is an ESE database with " + std::to_string(f.pageSize) +
               "-byte pages, not an Exchange store (Exchange 2000/2003 stores have " + page +
               "-byte pages): it holds no mailbox.";
    case NoMailboxReason::OtherEseKind:
        return "an ESE database, but not an Exchange store (no mailbox found): " + path;
    case NoMailboxReason::Damaged:
    case NoMailboxReason::Unreadable:
        break;
    }
    return kNoMailboxText;
}

std::string NoMailboxText(const std::string& path, std::int64_t recordedPages) {
    return NoMailboxText(path, ExamineNoMailboxFile(path, recordedPages));
}

std::string NoMailboxText(const std::string& path, const StoreCatalog& catalog) {
    bool storeTables = catalog.n1013Code != std::array<std::uint8_t, 2>{0x5C, 0x01};
    for (const PageEntry& p : catalog.pageList.entries()) {
        storeTables = storeTables || p.owner == kOwnerCatalog;
    }
    return NoMailboxText(path,
                         ExamineNoMailboxFile(path, catalog.recordedPageCount, storeTables));
}

} // namespace edb

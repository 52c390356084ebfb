#pragma once
// Contents tables for built stores: catalog rows on owner-2 pages, table root pages with their
// child lists and page chains, and the records that list one message each.
#include "catalog/catalog.h"
#include "io/format.h"
#include "tests/support/store_builder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace edbtest {

// One message as a contents table lists it. Texts are UTF-8.
struct MessageSpec {
    edb::FolderId messageId{};
    std::string subject;
    std::string sender;
    std::uint64_t filetime = 0;
};

// Column ids of the record's tag entries: the program's own names.
using edb::kColumnAfterSubject;
using edb::kColumnSender;
using edb::kColumnSenderAlt;
using edb::kColumnSubject;
using edb::kColumnSubjectPrefix;

// Where records and the child list sit in table pages.
constexpr std::size_t kFirstRecordAt = 40; // first byte of the first record (its FILETIME)
constexpr std::size_t kChildListAt = 73;
constexpr std::size_t kChildStride = 15;
constexpr std::size_t kMaxChildren = (kPage - kChildListAt - 4) / kChildStride + 1;

std::u16string toUtf16(std::string_view utf8);

// Catalog row whose name starts at `c` (c >= 34): object id at c-34, root page number at c-24,
// name length at c-4, 0x80 at c-3, the single-byte name at c.
void writeCatalogRow(Page& page, std::size_t c, std::uint32_t objectId, std::uint32_t rootPage,
                     std::string_view name);

// Child page numbers of a table root, one every 15 bytes from byte 73.
void writeChildList(Page& root, const std::vector<std::uint32_t>& children);

// Links the pages (file indices) in this order through their previous/next page numbers; the
// ends get 0.
void chainPages(StoreBuilder& store, const std::vector<std::size_t>& fileIndices);

// The fixed part of a record whose folder id starts at x: FILETIME at x-20, folder id at x,
// message id at x+16. The tag entries start at x+33.
void writeRecordIds(Page& page, std::size_t x, const edb::FolderId& folderId,
                    const edb::FolderId& messageId, std::uint64_t filetime);

// Bytes a full record takes from its FILETIME on.
std::size_t recordSize(const MessageSpec& message);

// Whether the record's value lengths come out exact: the sender and the subject's start must
// lie in the first 256 bytes of values, and the subject's end before 768.
bool recordFits(const MessageSpec& message);

// A full record at x: tag entries 0x0108 (sender), 0x0119 (a "RE: "/"FW: " prefix, or empty),
// 0x011A (the rest of the subject), 0x0124 (end of the subject), then the UTF-16 values.
// Throws std::invalid_argument when !recordFits(message). Returns the byte after the record.
std::size_t writeContentsRecord(Page& page, std::size_t x, const edb::FolderId& folderId,
                                const MessageSpec& message);

struct ContentsTablePages {
    std::size_t catalogPage = 0; // file index of the owner-2 page
    std::size_t nameAt = 0;      // where the table name starts in it
    std::size_t rootPage = 0;    // file index of the root
    std::vector<std::size_t> leafPages;
};

// A whole contents table: an owner-2 page with its catalog row, a root page whose child list
// names the leaves (at most kMaxChildren; the chain reaches the rest), and the leaves with the
// records, chained in order. Every table page carries `objectId` as its owner number.
ContentsTablePages addContentsTable(StoreBuilder& store, const edb::FolderId& folderId,
                                    std::uint32_t objectId,
                                    const std::vector<MessageSpec>& messages);

} // namespace edbtest

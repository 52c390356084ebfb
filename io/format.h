#pragma once
// The store format's numbers in one place: page header fields, owner numbers, column ids,
// record markers and chunk sizes. Offsets within a record are relative to the point each
// decoder names; the decoders keep those next to the code that walks the record.
#include <cstddef>
#include <cstdint>

namespace edb {

// ---- Pages -------------------------------------------------------------------------------
constexpr std::size_t kPageSize = 4096;      // bytes per page; page number N is at (N+1)*4096
constexpr std::int64_t kPagePreviousAt = 16; // u32 LE: previous page number of a chain
constexpr std::int64_t kPageNextAt = 20;     // u32 LE: next page number of a chain
constexpr std::int64_t kPageOwnerAt = 24;    // u32 LE: owner number (what the page holds)
constexpr std::size_t kPageHeaderRead = 512; // bytes read to learn a page's header fields

// File offset of the store's page number `n` (the file's first page has no number).
constexpr std::uint64_t PageNumberOffset(std::uint32_t n) {
    return (std::uint64_t{n} + 1) * kPageSize;
}

// ---- Owner numbers -----------------------------------------------------------------------
constexpr std::uint32_t kOwnerCatalog = 2;             // table catalog rows, N1013 definition
constexpr std::uint32_t kOwnerFolders = 8;             // folder records
constexpr std::uint32_t kOwnerProperties = 19;         // message properties records
constexpr std::uint32_t kOwnerMailboxes = 21;          // mailbox records
constexpr std::uint32_t kOwnerAttachments = 61;        // attachment records
constexpr std::uint32_t kOwnerBodyChunks = 106;        // one body chunk per page, at byte 42
constexpr std::uint32_t kOwnerLongValuesDefault = 122; // long-value pages when none is learnt

// ---- Tag entries and column ids ----------------------------------------------------------
// A tag entry is a u16 LE column id and a value offset: byte 0 plus the low four bits of
// byte 1 (the upper bits are flags); a value ends where the next entry's value starts.
constexpr std::int64_t kTagEntryBytes = 4; // column id and value offset
// Contents-table records.
constexpr std::uint16_t kColumnSender = 0x0108;        // sender display name (UTF-16)
constexpr std::uint16_t kColumnSenderAlt = 0x010C;     // sender, second form
constexpr std::uint16_t kColumnSubjectPrefix = 0x0119; // "RE: "/"FW: " prefix of the subject
constexpr std::uint16_t kColumnSubject = 0x011A;       // the subject's rest
constexpr std::uint16_t kColumnAfterSubject = 0x0124;  // the column after the subject
// Message properties records.
constexpr std::uint16_t kColumnAttachmentIds = 0x0104; // header byte, then 12-byte elements
constexpr std::uint16_t kColumnPrimaryBody = 0x011A;   // plain body, inline or a reference
constexpr std::uint16_t kColumnHomePhone = 0x01C8;     // contact fields, UTF-16
constexpr std::uint16_t kColumnBusinessPhone = 0x01C9;
constexpr std::uint16_t kColumnMobilePhone = 0x01C1;
constexpr std::uint16_t kColumnBusinessAddress = 0x019F;
constexpr std::uint16_t kColumnEmailAddress = 0x019A;
// Attachment records.
constexpr std::uint16_t kColumnAttachmentStart = 0x0105; // restarts the record's tag entries
constexpr std::uint16_t kColumnAttachmentName = 0x010A;  // file name (UTF-16)
constexpr std::uint16_t kColumnAttachmentData = 0x0107;  // header byte, then bytes or a reference
// Folder records.
constexpr std::uint16_t kColumnFolderBeforeName = 0x0104; // the entry just before the name's
constexpr std::uint16_t kColumnFolderName = 0x0105;       // display name (UTF-16)
constexpr std::uint16_t kColumnFolderClass = 0x0147;      // container class text, "IPF.…"

// ---- Record markers ----------------------------------------------------------------------
constexpr std::uint8_t kCatalogRowMarker = 0x80; // before a table name in a catalog row
constexpr std::uint8_t kTableNameHyphen = 0x2D;  // '-' inside a table name
constexpr std::uint8_t kMailboxMarker[] = {0xFF, 0xFF, 0xFF, 0xFF}; // opens a mailbox record
constexpr std::uint8_t kN1013Name[] = {'N', '1', '0', '1', '3'};    // formatted-body column name
constexpr std::int64_t kN1013CodeBefore = 23; // its column code sits 23 bytes before it
constexpr std::uint8_t kPropertiesAnchor[] = {0x01, 0x01};         // a properties record's base
constexpr std::uint8_t kPropertiesAnchorNoSender[] = {0x03, 0x01}; // the same, no sender text
constexpr std::uint8_t kChunkMarker[] = {0x03, 0x00, 0x05};        // before a chunk record
// An attachment record starts with its id, whose first five bytes are these.
constexpr std::uint8_t kAttachmentRecordStart[] = {0x01, 0x00, 0x00, 0x00, 0x00};
constexpr std::uint8_t kTextMarkerSecond = 0x04; // code-page marker: E4 04 or E3 04
constexpr std::uint8_t kTextMarker1252 = 0xE4;   // text in code page 1252
constexpr std::uint8_t kTextMarker1251 = 0xE3;   // text in code page 1251

// ---- Long values -------------------------------------------------------------------------
// A chunk record: u16 LE reference, u32 BE offset in the value, u16 LE data length, the data.
constexpr std::size_t kChunkHeaderSize = 8;        // bytes before a chunk's data
constexpr std::size_t kChunkDataMax = 4014;        // data bytes per chunk; offsets are multiples
constexpr std::int64_t kBodyChunkRecordAt = 42;    // chunk record of an owner-106 page
constexpr std::size_t kLongValueReferenceSize = 5; // a value this long is a reference

// ---- Late stages -------------------------------------------------------------------------
constexpr std::size_t kChunkPageMinSize = 64;         // a shorter page is never a chunk page
constexpr std::int64_t kChunkPageFirstRecordAt = 42;  // a chunk page's first chunk record
constexpr std::int64_t kChunkPageSecondRecordAt = 58; // and its second
constexpr std::int64_t kChunkPageMarkersFrom = 48;    // further records follow markers from here
constexpr std::int64_t kChunkRecordOffsetAt = 2; // u32 BE chunk offset, after the u16 reference
constexpr std::int64_t kChainBlockBack = 52;     // a chain's block starts this far before its chunk
constexpr std::uint64_t kTablePageUnit = 512;    // a folder table's page values count these

} // namespace edb

#pragma once
// Message properties records (owner-19 pages), attachment records (owner-61 pages) and
// long-value chunk pages for test stores.
//
// Value layouts (read back the same way by the code that converts messages):
// - primary body (0x011A), inline: code-page marker E4 04 (1252) or E3 04 (1251), u32 LE text
//   byte count, the text bytes; a long value holds these same bytes in its chunks.
// - 5-byte long-value reference: 05, reference high, reference low, 00, 00.
// - chunk record: u16 LE reference, u32 BE chunk offset (multiple of 4014), u16 LE data length,
//   the data; a long value is its chunks' data in chunk-offset order.
// - formatted body: HTML bytes in the N1013-code column, or a header byte and a compressed-RTF
//   stream in another column (found by its LZFu signature, or by a 5-byte reference).
// - attachment size value (0x0107): a header byte and the attachment bytes, or a header byte
//   and a 4-byte reference part; the u16 LE page number of a long-value page stands just
//   before a referencing value.
#include "io/format.h"
#include "tests/support/discovery_records.h"
#include "tests/support/store_builder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace edbtest {

constexpr std::uint32_t kPropertiesOwner = edb::kOwnerProperties;
constexpr std::uint32_t kAttachmentOwner = edb::kOwnerAttachments;
constexpr std::uint32_t kBodyChunkOwner = edb::kOwnerBodyChunks;
constexpr std::uint32_t kDefaultLongValueOwner = edb::kOwnerLongValuesDefault;
constexpr std::size_t kChunkSpan = edb::kChunkDataMax;

struct PrimaryBodySpec {
    enum class Kind { None, Inline, LongValue };
    Kind kind = Kind::None;
    std::string text;    // single-byte text in `codePage`
    int codePage = 1252; // 1252 (marker E4 04) or 1251 (marker E3 04)
    std::uint16_t reference = 0;
};

struct FormattedBodySpec {
    enum class Kind { None, Html, Rtf };
    Kind kind = Kind::None;
    std::vector<std::uint8_t> bytes; // HTML bytes, or a compressed-RTF stream (header first)
    bool longValue = false;
    std::uint16_t reference = 0;
    // 0: 0x015C (the default N1013 code) for HTML, 0x0130 for RTF (any column whose low byte
    // is above 0x19 and that is not the N1013 code will do).
    std::uint16_t column = 0;
};

struct ContactColumnsSpec {
    std::u16string homePhone;       // 0x01C8
    std::u16string businessPhone;   // 0x01C9
    std::u16string mobilePhone;     // 0x01C1
    std::u16string businessAddress; // 0x019F
    std::u16string emailAddress;    // 0x019A
};

struct MessagePropertiesSpec {
    Id8 messageId{};
    bool senderSkipped = false; // record base 03 01 instead of 01 01
    std::string sender;         // single-byte text in senderCodePage; empty: length byte 0
    int senderCodePage = 1252;  // 1252 (E4 04), 1251 (E3 04), 0 (no marker)
    std::optional<std::uint8_t> fixedPartLength; // default: just past the tag entries
    PrimaryBodySpec primary;
    FormattedBodySpec formatted;
    std::vector<Id8> attachmentIds;
    bool attachmentIdsHeaderOne = true; // header byte 1: the first id stands right after it
    std::optional<ContactColumnsSpec> contact;
};

// The bytes of a primary body value: marker, u32 LE count, text.
std::vector<std::uint8_t> primaryBodyBytes(std::string_view text, int codePage);
// The bytes of a formatted body value as stored (a header byte before an RTF stream).
std::vector<std::uint8_t> formattedBodyBytes(const FormattedBodySpec& spec);

// Writes one properties record whose message id stands at `anchor` (anchor + 24 >= 32);
// returns the position just past its last byte. Throws when it does not fit in the page.
std::size_t writeMessageProperties(Page& page, std::size_t anchor,
                                   const MessagePropertiesSpec& spec);
// Bytes a record takes from its anchor, including the 300-byte window it is read through.
std::size_t messagePropertiesSize(const MessagePropertiesSpec& spec);

struct AttachmentSpec {
    Id8 id{};            // byte 0 is 0x01 and bytes 1..4 are 0 (makeAttachmentId)
    std::u16string name; // column 0x0105
    std::optional<std::u16string> longName; // column 0x010A, read in preference
    std::vector<std::uint8_t> data;         // inline size value
    std::optional<std::uint16_t> reference; // 5-byte value instead of inline data
    std::uint16_t ownerPage = 0;            // store page number stored before a 5-byte value
};

// 01 00 00 00 00 and n as three big-endian bytes.
Id8 makeAttachmentId(std::uint32_t n);

std::size_t writeAttachmentRecord(Page& page, std::size_t at, const AttachmentSpec& spec);
std::size_t attachmentRecordSize(const AttachmentSpec& spec);

// Long values. Each returns the file indexes of the pages written (appended to the store).
// One chunk per page, at byte 42, chunks of `chunkBytes` (<= 4014) data bytes.
std::vector<std::size_t> addPagedLongValue(StoreBuilder& store, std::uint32_t owner,
                                           std::uint16_t reference,
                                           const std::vector<std::uint8_t>& value,
                                           std::size_t chunkBytes = kChunkSpan);
// Two chunks a page: the first at byte 42 (found through the owner-106 pages), the second
// after a 03 00 05 marker (found through the block read from the first). Chunk offsets must
// stay below 65536 to be matched, so at most 17 chunks.
std::vector<std::size_t> addChainedLongValue(StoreBuilder& store, std::uint32_t owner,
                                             std::uint16_t reference,
                                             const std::vector<std::uint8_t>& value,
                                             std::size_t chunkBytes = 2000);
// Small single-chunk values packed on one page: the first at 58, the rest after markers.
std::size_t
addPackedLongValues(StoreBuilder& store, std::uint32_t owner,
                    const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>& values);

// Packs records into pages of one owner, several a page, appending pages as needed.
class RecordPacker {
public:
    RecordPacker(StoreBuilder& store, std::uint32_t owner) : m_store(store), m_owner(owner) {}
    // Returns the file index of the page and the position where the record starts.
    std::pair<std::size_t, std::size_t> reserve(std::size_t bytes);

private:
    StoreBuilder& m_store;
    std::uint32_t m_owner;
    std::size_t m_page = SIZE_MAX;
    std::size_t m_cursor = 0;
};

// The whole message: its properties record on an owner-19 page of `packer`, and its long-value
// bodies on owner-106 pages. Returns the store offset of the record's anchor.
std::uint64_t addMessageProperties(StoreBuilder& store, RecordPacker& packer,
                                   const MessagePropertiesSpec& spec);
// The attachment record on an owner-61 page of `packer`; with a reference and `longValue`
// set, also its chunks on pages of `longValueOwner` (and ownerPage pointed at the first).
std::uint64_t addAttachment(StoreBuilder& store, RecordPacker& packer, AttachmentSpec spec,
                            const std::vector<std::uint8_t>* longValue = nullptr,
                            std::uint32_t longValueOwner = kDefaultLongValueOwner);

} // namespace edbtest

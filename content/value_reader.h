#pragma once
// Reads bodies and attachments back through the store file from the locators the scan
// recorded. Nothing here trusts the store: every read stays inside the page that holds its
// start and inside the file, and a long value stops at the first gap between its chunks.
//
// Value layouts read here (the test store builder writes the same):
// - inline plain body: code-page marker E4 04 (1252) or E3 04 (1251), u32 LE byte count, text;
//   the locator's position is the first text byte.
// - long-value chunk record at r: u16 LE reference, u32 BE chunk offset (0 or a multiple of
//   4014), u16 LE data length (at most 4014), data. A long value is its chunks' data in chunk
//   offset order; a long-value plain body is laid out as the inline value.
// - formatted body: HTML bytes, or a compressed RTF stream whose 16-byte header starts after
//   the value's header byte (or at the value's start).
// - inline attachment: (size - 1) data bytes at the position (which skips the header byte).
#include "catalog/catalog.h"
#include "io/format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace edb::conv {

// A plain copy of a locator, taken under the catalog's lock and read without it.
struct ValueLocation {
    std::uint16_t size = 0;
    std::uint64_t position = 0;
    std::optional<std::uint16_t> reference;
    std::vector<std::uint64_t> chunks;
    std::uint64_t valueStart = 0;
    std::uint64_t valueEnd = 0;
    int codePage = 0;
};
[[nodiscard]] ValueLocation CopyLocator(const BodyLocator& body);
[[nodiscard]] ValueLocation CopyLocator(const AttachmentEntry& attachment);

class StoreReader {
public:
    StoreReader(const CFile64& file, std::uint64_t storeSize) : m_file(file), m_size(storeSize) {}
    // Up to `len` bytes at `pos`, cut at the end of the page holding `pos` and of the store,
    // and where the disk could not be read: then `unreadable` (when given) says so.
    [[nodiscard]] std::vector<std::uint8_t> readInPage(std::uint64_t pos, std::size_t len,
                                                       std::string* unreadable = nullptr) const;
    // The long value with `reference` assembled from the chunk records at `chunks`; `note`
    // (when given) says why it stopped early.
    [[nodiscard]] std::vector<std::uint8_t> readLongValue(std::uint16_t reference,
                                                          const std::vector<std::uint64_t>& chunks,
                                                          std::string* note = nullptr) const;

private:
    const CFile64& m_file;
    std::uint64_t m_size;
};

struct TextBody {
    bool found = false;
    std::string text; // UTF-8
    std::string note; // why it is missing or short; empty when all is well
    std::string raw;  // the text bytes as stored, for the body rule to judge
    int codePage = 1252;
};

struct FormattedBody {
    enum class Kind { None, Html, Text, Rtf };
    Kind kind = Kind::None;
    std::string data; // UTF-8 for Html and Text, the RTF bytes for Rtf
    std::string note;
    bool fromRtf = false; // the value was a compressed RTF stream
    std::string raw;      // the value's bytes after its header byte, undecoded
};

struct AttachmentData {
    bool found = false;
    std::vector<std::uint8_t> bytes;
    std::string note;
};

[[nodiscard]] TextBody ReadPrimaryBody(const StoreReader& reader, const ValueLocation& loc);
[[nodiscard]] FormattedBody ReadFormattedBody(const StoreReader& reader, const ValueLocation& loc);
[[nodiscard]] AttachmentData ReadAttachmentData(const StoreReader& reader,
                                                const ValueLocation& loc);

// A formatted value's bytes (inline or assembled) to a body: RTF when a stream header is found
// at byte 0 or 1, else HTML.
[[nodiscard]] FormattedBody DecodeFormattedValue(const std::vector<std::uint8_t>& value);

} // namespace edb::conv

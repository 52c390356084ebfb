#include "tests/support/properties_records.h"

#include <stdexcept>

namespace edbtest {

namespace {

constexpr std::size_t kBaseFromAnchor = 24;
constexpr std::size_t kReadWindow = 300;
constexpr std::uint16_t kEndColumn = 0x01FF; // closes the last value; read by nothing
constexpr std::size_t kFirstRecord = 40;
constexpr std::size_t kRecordGap = 8;
constexpr std::size_t kAttachmentScanReach = 64; // past the name scan of a record

struct Value {
    std::uint16_t column;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> referenceBytes(std::uint16_t reference) {
    return {0x05, static_cast<std::uint8_t>(reference >> 8),
            static_cast<std::uint8_t>(reference & 0xFF), 0x00, 0x00};
}

std::vector<std::uint8_t> wideBytes(std::u16string_view s) {
    std::vector<std::uint8_t> b;
    for (const char16_t c : s) {
        b.push_back(static_cast<std::uint8_t>(c & 0xFF));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return b;
}

std::vector<std::uint8_t> contactValue(std::u16string_view s) {
    std::vector<std::uint8_t> b{0x00}; // header byte
    const auto w = wideBytes(s);
    b.insert(b.end(), w.begin(), w.end());
    return b;
}

std::vector<Value> propertyValues(const MessagePropertiesSpec& spec) {
    std::vector<Value> values;
    switch (spec.primary.kind) {
    case PrimaryBodySpec::Kind::Inline:
        values.push_back(
            {edb::kColumnPrimaryBody, primaryBodyBytes(spec.primary.text, spec.primary.codePage)});
        break;
    case PrimaryBodySpec::Kind::LongValue:
        values.push_back({edb::kColumnPrimaryBody, referenceBytes(spec.primary.reference)});
        break;
    case PrimaryBodySpec::Kind::None:
        break;
    }
    const FormattedBodySpec& f = spec.formatted;
    if (f.kind != FormattedBodySpec::Kind::None) {
        const std::uint16_t column =
            f.column != 0 ? f.column
                          : (f.kind == FormattedBodySpec::Kind::Html ? std::uint16_t{0x015C}
                                                                     : std::uint16_t{0x0130});
        values.push_back(
            {column, f.longValue ? referenceBytes(f.reference) : formattedBodyBytes(f)});
    }
    if (!spec.attachmentIds.empty()) {
        std::vector<std::uint8_t> b{static_cast<std::uint8_t>(spec.attachmentIdsHeaderOne ? 1 : 0)};
        for (const Id8& id : spec.attachmentIds) {
            b.insert(b.end(), id.begin(), id.end());
            b.insert(b.end(), 4, 0x00); // rest of the 12-byte element
        }
        values.push_back({edb::kColumnAttachmentIds, std::move(b)});
    }
    if (spec.contact) {
        const ContactColumnsSpec& c = *spec.contact;
        values.push_back({edb::kColumnEmailAddress, contactValue(c.emailAddress)});
        values.push_back({edb::kColumnBusinessAddress, contactValue(c.businessAddress)});
        values.push_back({edb::kColumnHomePhone, contactValue(c.homePhone)});
        values.push_back({edb::kColumnBusinessPhone, contactValue(c.businessPhone)});
        values.push_back({edb::kColumnMobilePhone, contactValue(c.mobilePhone)});
    }
    return values;
}

// Tag entries start at R + 4 (R and R + 1 hold the record kind, R + 2 the fixed-part length);
// four zero bytes follow the closing entry so it reads as an unusable value.
std::size_t defaultFixedPart(std::size_t valueCount) {
    return 4 + 4 * (valueCount + 1) + 4;
}

std::vector<std::uint8_t> senderArea(const MessagePropertiesSpec& spec) {
    std::vector<std::uint8_t> b{0x00};
    if (spec.senderCodePage == 1251) {
        b.insert(b.end(), {0xE3, 0x04});
    } else if (spec.senderCodePage == 1252) {
        b.insert(b.end(), {0xE4, 0x04});
    } else {
        b.insert(b.end(), {0x00, 0x00, 0x00, 0x00});
    }
    if (spec.sender.size() > 255) {
        throw std::invalid_argument("sender longer than 255 bytes");
    }
    b.push_back(static_cast<std::uint8_t>(spec.sender.size()));
    b.insert(b.end(), spec.sender.begin(), spec.sender.end());
    b.push_back(0x00);
    return b;
}

std::size_t recordEnd(const MessagePropertiesSpec& spec, std::size_t* fixedPart) {
    const auto values = propertyValues(spec);
    const std::size_t minimum = defaultFixedPart(values.size());
    const std::size_t t = spec.fixedPartLength ? *spec.fixedPartLength : minimum;
    if (t < minimum || t == 0) {
        throw std::invalid_argument("fixed part shorter than the tag entries");
    }
    if (fixedPart != nullptr) {
        *fixedPart = t;
    }
    std::size_t end = t + senderArea(spec).size();
    for (const Value& v : values) {
        end += v.bytes.size();
    }
    return end; // relative to R
}

} // namespace

std::vector<std::uint8_t> primaryBodyBytes(std::string_view text, int codePage) {
    std::vector<std::uint8_t> b{codePage == 1251 ? std::uint8_t{0xE3} : std::uint8_t{0xE4}, 0x04};
    const auto n = static_cast<std::uint32_t>(text.size());
    for (int k = 0; k < 4; ++k) {
        b.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
    }
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

std::vector<std::uint8_t> formattedBodyBytes(const FormattedBodySpec& spec) {
    if (spec.kind == FormattedBodySpec::Kind::Rtf) {
        std::vector<std::uint8_t> b{0x00}; // header byte; the stream header follows
        b.insert(b.end(), spec.bytes.begin(), spec.bytes.end());
        return b;
    }
    return spec.bytes;
}

std::size_t messagePropertiesSize(const MessagePropertiesSpec& spec) {
    return kBaseFromAnchor + std::max(kReadWindow, recordEnd(spec, nullptr));
}

std::size_t writeMessageProperties(Page& page, std::size_t anchor,
                                   const MessagePropertiesSpec& spec) {
    std::size_t t = 0;
    const std::size_t end = recordEnd(spec, &t);
    const std::size_t r = anchor + kBaseFromAnchor;
    if (r + end > kPage || end > 0x0FFF) {
        throw std::out_of_range("properties record does not fit in the page");
    }
    page.put(anchor, std::vector<std::uint8_t>(spec.messageId.begin(), spec.messageId.end()));
    page.put(r, {static_cast<std::uint8_t>(spec.senderSkipped ? 0x03 : 0x01), 0x01,
                 static_cast<std::uint8_t>(t), 0x00});
    const auto sender = senderArea(spec);
    page.put(r + t, sender);
    const auto values = propertyValues(spec);
    std::size_t offset = t + sender.size();
    std::size_t entry = r + 4;
    for (const Value& v : values) {
        page.tag(entry, v.column, static_cast<std::uint16_t>(offset));
        page.put(r + offset, v.bytes);
        offset += v.bytes.size();
        entry += 4;
    }
    page.tag(entry, kEndColumn, static_cast<std::uint16_t>(offset));
    return r + offset;
}

Id8 makeAttachmentId(std::uint32_t n) {
    return {0x01,
            0x00,
            0x00,
            0x00,
            0x00,
            static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
}

namespace {

struct AttachmentLayout {
    bool shortEntry;
    std::vector<Value> values;
};

AttachmentLayout attachmentLayout(const AttachmentSpec& spec) {
    AttachmentLayout l;
    l.shortEntry = !spec.name.empty() || !spec.longName;
    auto nameValue = [](std::u16string_view s) {
        auto b = contactValue(s);
        b.insert(b.end(), {0x00, 0x00}); // a stop unit
        return b;
    };
    if (l.shortEntry) {
        l.values.push_back({edb::kColumnAttachmentStart, nameValue(spec.name)});
    }
    if (spec.longName) {
        l.values.push_back({edb::kColumnAttachmentName, nameValue(*spec.longName)});
    }
    // The page number of a long-value page stands in the two bytes before the size value.
    l.values.back().bytes.push_back(static_cast<std::uint8_t>(spec.ownerPage & 0xFF));
    l.values.back().bytes.push_back(static_cast<std::uint8_t>(spec.ownerPage >> 8));
    if (spec.reference) {
        std::vector<std::uint8_t> b{0x00, static_cast<std::uint8_t>(*spec.reference >> 8),
                                    static_cast<std::uint8_t>(*spec.reference & 0xFF), 0x00, 0x00};
        l.values.push_back({edb::kColumnAttachmentData, std::move(b)});
    } else {
        std::vector<std::uint8_t> b{0x00};
        b.insert(b.end(), spec.data.begin(), spec.data.end());
        l.values.push_back({edb::kColumnAttachmentData, std::move(b)});
    }
    return l;
}

} // namespace

std::size_t attachmentRecordSize(const AttachmentSpec& spec) {
    const AttachmentLayout l = attachmentLayout(spec);
    std::size_t size = 8 + 4 * (l.values.size() + 1) + 4;
    for (const Value& v : l.values) {
        size += v.bytes.size();
    }
    return std::max(size, 8 + kAttachmentScanReach);
}

std::size_t writeAttachmentRecord(Page& page, std::size_t at, const AttachmentSpec& spec) {
    const AttachmentLayout l = attachmentLayout(spec);
    const std::size_t entries = at + 8;
    const std::size_t base = l.shortEntry ? entries : at;
    page.put(at, std::vector<std::uint8_t>(spec.id.begin(), spec.id.end()));
    std::size_t pos = entries + 4 * (l.values.size() + 1) + 4;
    std::size_t entry = entries;
    for (const Value& v : l.values) {
        if (pos - base > 0x0FFF || pos + v.bytes.size() > kPage) {
            throw std::out_of_range("attachment record does not fit in the page");
        }
        page.tag(entry, v.column, static_cast<std::uint16_t>(pos - base));
        page.put(pos, v.bytes);
        pos += v.bytes.size();
        entry += 4;
    }
    page.tag(entry, kEndColumn, static_cast<std::uint16_t>(pos - base));
    return pos;
}

namespace {

void writeChunk(Page& page, std::size_t at, std::uint16_t reference, std::uint32_t chunkOffset,
                const std::uint8_t* data, std::size_t len) {
    page.u16le(at, reference);
    page.u32be(at + 2, chunkOffset);
    page.u16le(at + 6, static_cast<std::uint16_t>(len));
    page.put(at + 8, std::vector<std::uint8_t>(data, data + len));
}

} // namespace

std::vector<std::size_t> addPagedLongValue(StoreBuilder& store, std::uint32_t owner,
                                           std::uint16_t reference,
                                           const std::vector<std::uint8_t>& value,
                                           std::size_t chunkBytes) {
    if (chunkBytes == 0 || chunkBytes > kChunkSpan) {
        throw std::invalid_argument("chunk size");
    }
    std::vector<std::size_t> pages;
    std::size_t done = 0;
    std::uint32_t chunk = 0;
    do {
        const std::size_t len = std::min(chunkBytes, value.size() - done);
        const std::size_t k = store.addPage(owner);
        writeChunk(store.page(k), 42, reference, chunk * kChunkSpan, value.data() + done, len);
        pages.push_back(k);
        done += len;
        ++chunk;
    } while (done < value.size());
    return pages;
}

std::vector<std::size_t> addChainedLongValue(StoreBuilder& store, std::uint32_t owner,
                                             std::uint16_t reference,
                                             const std::vector<std::uint8_t>& value,
                                             std::size_t chunkBytes) {
    // Two chunks a page: one at 42 for the owner-106 pass, one after a marker for the block
    // read from the first. A block read from the second finds that chunk's own marker first,
    // so the chain goes no further than one page.
    constexpr std::size_t kChunkHeader = 8;
    if (chunkBytes == 0 || 42 + 2 * kChunkHeader + 3 + 2 * chunkBytes > kPage) {
        throw std::invalid_argument("chain chunk size");
    }
    const std::size_t chunks =
        std::max<std::size_t>(1, (value.size() + chunkBytes - 1) / chunkBytes);
    if (chunks > 17) {
        throw std::invalid_argument("chained value needs more than 17 chunks");
    }
    std::vector<std::size_t> pages;
    std::size_t done = 0;
    std::size_t pos = 0;
    for (std::uint32_t c = 0; c < chunks; ++c) {
        const std::size_t len = std::min(chunkBytes, value.size() - done);
        if (c % 2 == 0) {
            pages.push_back(store.addPage(owner));
            pos = 42;
        } else {
            store.page(pages.back()).put(pos, {0x03, 0x00, 0x05});
            pos += 3;
        }
        writeChunk(store.page(pages.back()), pos, reference, c * kChunkSpan, value.data() + done,
                   len);
        pos += kChunkHeader + len;
        done += len;
    }
    return pages;
}

std::size_t addPackedLongValues(
    StoreBuilder& store, std::uint32_t owner,
    const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>& values) {
    const std::size_t k = store.addPage(owner);
    std::size_t pos = 58;
    bool first = true;
    for (const auto& [reference, bytes] : values) {
        if (!first) {
            store.page(k).put(pos, {0x03, 0x00, 0x05});
            pos += 3;
        }
        if (pos + 8 + bytes.size() > kPage) {
            throw std::out_of_range("packed long values do not fit in one page");
        }
        writeChunk(store.page(k), pos, reference, 0, bytes.data(), bytes.size());
        pos += 8 + bytes.size();
        first = false;
    }
    return k;
}

std::pair<std::size_t, std::size_t> RecordPacker::reserve(std::size_t bytes) {
    if (m_page == SIZE_MAX || m_cursor + bytes > kPage) {
        m_page = m_store.addPage(m_owner);
        m_cursor = kFirstRecord;
    }
    const std::size_t at = m_cursor;
    m_cursor += bytes + kRecordGap;
    return {m_page, at};
}

std::uint64_t addMessageProperties(StoreBuilder& store, RecordPacker& packer,
                                   const MessagePropertiesSpec& spec) {
    const auto [k, at] = packer.reserve(messagePropertiesSize(spec));
    writeMessageProperties(store.page(k), at, spec);
    if (spec.primary.kind == PrimaryBodySpec::Kind::LongValue) {
        addPagedLongValue(store, kBodyChunkOwner, spec.primary.reference,
                          primaryBodyBytes(spec.primary.text, spec.primary.codePage));
    }
    if (spec.formatted.kind != FormattedBodySpec::Kind::None && spec.formatted.longValue) {
        addChainedLongValue(store, kBodyChunkOwner, spec.formatted.reference,
                            formattedBodyBytes(spec.formatted));
    }
    return StoreBuilder::offsetOf(k) + at;
}

std::uint64_t addAttachment(StoreBuilder& store, RecordPacker& packer, AttachmentSpec spec,
                            const std::vector<std::uint8_t>* longValue,
                            std::uint32_t longValueOwner) {
    if (spec.reference && longValue != nullptr) {
        const auto pages = addPagedLongValue(store, longValueOwner, *spec.reference, *longValue);
        spec.ownerPage = static_cast<std::uint16_t>(pages.front() - 1);
    }
    const auto [k, at] = packer.reserve(attachmentRecordSize(spec));
    writeAttachmentRecord(store.page(k), at, spec);
    return StoreBuilder::offsetOf(k) + at;
}

} // namespace edbtest

#include "content/value_reader.h"

#include "charset/header_chars.h"
#include "io/text.h"
#include "rtf/compressed_rtf.h"
#include "rtf/rtf_text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace edb::conv {
namespace {

constexpr std::size_t kCountSize = 4;  // u32 LE text byte count after the marker
constexpr std::size_t kMarkerSize = 2; // E4 04 or E3 04

std::uint64_t pageEnd(std::uint64_t pos) {
    return (pos / kPageSize + 1) * kPageSize;
}

// The code page a value's marker at its start names; 0 when there is none.
int markerCodePage(const ByteView& value) {
    if (value.byteOr0(1) != kTextMarkerSecond) {
        return 0;
    }
    const std::uint8_t first = value.byteOr0(0);
    return first == kTextMarker1252 ? 1252 : first == kTextMarker1251 ? 1251 : 0;
}

std::string asString(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t len) {
    if (from >= b.size()) {
        return {};
    }
    const ByteView v(b.data(), b.size());
    return std::string(v.chars(static_cast<std::int64_t>(from), std::min(len, b.size() - from)));
}

// A plain body's stored bytes: kept as stored for the body rule, read as text in the code page
// (1251 when marked so, else 1252) without the padding NULs.
std::string_view withoutTrailingNuls(std::string_view s) {
    while (!s.empty() && s.back() == '\0') {
        s.remove_suffix(1);
    }
    return s;
}

void finishPlain(TextBody& body, std::string raw, int codePage) {
    body.raw = std::move(raw);
    body.codePage = codePage == 1251 ? 1251 : 1252;
    body.found = true;
    body.text = CodePageToUtf8(withoutTrailingNuls(body.raw), body.codePage);
}

std::string htmlToUtf8(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        bytes.remove_prefix(3);
    }
    if (header::IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return CodePageToUtf8(bytes, 1252);
}

} // namespace

ValueLocation CopyLocator(const BodyLocator& body) {
    ValueLocation l;
    l.size = body.size;
    l.position = body.position;
    l.reference = body.reference;
    l.chunks = body.chunks.values();
    l.valueStart = body.valueStart;
    l.valueEnd = body.valueEnd;
    l.codePage = body.codePage;
    return l;
}

ValueLocation CopyLocator(const AttachmentEntry& attachment) {
    ValueLocation l;
    l.size = attachment.size;
    l.position = attachment.position;
    if (attachment.position == 0) {
        l.reference = attachment.reference;
    }
    l.chunks = attachment.chunks.values();
    return l;
}

std::vector<std::uint8_t> StoreReader::readInPage(std::uint64_t pos, std::size_t len,
                                                  std::string* unreadable) const {
    if (pos >= m_size) {
        return {};
    }
    const std::uint64_t end = std::min(pageEnd(pos), m_size);
    len = static_cast<std::size_t>(std::min<std::uint64_t>(len, end - pos));
    std::vector<std::uint8_t> out(len);
    std::size_t got = m_file.ReadAt(pos, out.data(), len);
    // Zeros stand where the disk failed; they are no part of the value.
    if (const auto bad = m_file.unreadable().firstWithin(pos, got)) {
        got = static_cast<std::size_t>(std::max(bad->offset, pos) - pos);
        if (unreadable != nullptr) {
            char at[24];
            std::snprintf(at, sizeof at, "0x%llx", static_cast<unsigned long long>(bad->offset));
            *unreadable = std::string("the store file could not be read at ") + at + " (" +
                          bad->reason() + ")";
        }
    }
    out.resize(got);
    return out;
}

std::vector<std::uint8_t> StoreReader::readLongValue(std::uint16_t reference,
                                                     const std::vector<std::uint64_t>& chunks,
                                                     std::string* note) const {
    struct Chunk {
        std::uint32_t offset;
        std::vector<std::uint8_t> data;
    };
    std::vector<Chunk> found;
    std::string unreadable; // the first chunk the disk did not give back
    for (const std::uint64_t r : chunks) {
        const auto head = readInPage(r, kChunkHeaderSize, &unreadable);
        ByteCursor header(ByteView(head.data(), head.size()), 0);
        const auto ref = header.u16Le();
        const auto offset = header.u32Be();
        const auto length = header.u16Le();
        if (!ref || !offset || !length || *ref != reference || *offset % kChunkDataMax != 0) {
            continue; // another value's chunk, or not a chunk record at all
        }
        const std::size_t want = std::min<std::size_t>(*length, kChunkDataMax);
        // The data may not leave the page of its record; a cut chunk ends the value there.
        found.push_back({*offset, readInPage(r + kChunkHeaderSize, want, &unreadable)});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Chunk& a, const Chunk& b) { return a.offset < b.offset; });
    std::vector<std::uint8_t> value;
    for (const Chunk& c : found) {
        if (c.offset < value.size()) {
            continue; // a second copy of a chunk already taken
        }
        if (c.offset != value.size()) {
            if (note != nullptr) {
                *note =
                    "long value stops at byte " + std::to_string(value.size()) + " (chunk missing)";
            }
            break;
        }
        value.insert(value.end(), c.data.begin(), c.data.end());
    }
    if (found.empty() && note != nullptr) {
        *note = "no chunk of the long value found";
    }
    if (!unreadable.empty() && note != nullptr) {
        *note = unreadable;
    }
    return value;
}

TextBody ReadPrimaryBody(const StoreReader& reader, const ValueLocation& loc) {
    TextBody body;
    if (loc.position != 0) {
        // Marker and count lie just before the text, in the same page.
        const std::uint64_t head = loc.position - kMarkerSize - kCountSize;
        if (loc.position < kMarkerSize + kCountSize ||
            head / kPageSize != loc.position / kPageSize) {
            body.note = "plain body header outside its page";
            return body;
        }
        std::string unreadable;
        const auto hb = reader.readInPage(head, kMarkerSize + kCountSize, &unreadable);
        const ByteView hv(hb.data(), hb.size());
        const auto count = hv.readU32Le(kMarkerSize);
        if (!count) {
            body.note = unreadable.empty() ? "plain body header unreadable" : unreadable;
            return body;
        }
        std::uint64_t len = *count;
        if (loc.valueEnd > loc.position) {
            len = std::min<std::uint64_t>(len, loc.valueEnd - loc.position);
        }
        const auto text =
            reader.readInPage(loc.position,
                              static_cast<std::size_t>(std::min<std::uint64_t>(len, kPageSize)),
                              &unreadable);
        if (text.size() < len) {
            body.note = unreadable.empty() ? "plain body cut at its page end" : unreadable;
        }
        int cp = loc.codePage;
        if (cp == 0) {
            cp = markerCodePage(hv);
        }
        finishPlain(body, asString(text, 0, text.size()), cp);
        return body;
    }
    if (!loc.reference) {
        return body; // no plain body recorded
    }
    if (loc.chunks.empty()) {
        body.note = "plain body is a long value not found in the store file";
        return body;
    }
    const auto value = reader.readLongValue(*loc.reference, loc.chunks, &body.note);
    if (value.empty()) {
        return body;
    }
    int cp = loc.codePage;
    std::string raw;
    const ByteView v(value.data(), value.size());
    const int marked = markerCodePage(v);
    if (marked != 0 && value.size() >= kMarkerSize + kCountSize) {
        const std::uint32_t count = v.readU32Le(kMarkerSize).value_or(0);
        raw = asString(value, kMarkerSize + kCountSize, count);
        if (raw.size() < count && body.note.empty()) {
            body.note = "plain body shorter than its count";
        }
        if (cp == 0) {
            cp = marked;
        }
    } else {
        raw = asString(value, 0, value.size());
    }
    finishPlain(body, std::move(raw), cp);
    return body;
}

FormattedBody DecodeFormattedValue(const std::vector<std::uint8_t>& value) {
    FormattedBody body;
    const ByteView v(value.data(), value.size());
    std::int64_t start = -1;
    if (HasRtfMagic(v, 1)) {
        start = 1;
    } else if (HasRtfMagic(v, 0)) {
        start = 0;
    }
    if (start >= 0) {
        body.fromRtf = true;
        body.raw = asString(value, static_cast<std::size_t>(start), value.size());
        const RtfDecodeResult rtf =
            DecompressRtf(v.sub(start, value.size() - static_cast<std::size_t>(start)));
        body.note = rtf.problems();
        if (!rtf.usable()) {
            return body;
        }
        RtfText t = DeEncapsulateRtf(rtf.rtf);
        switch (t.content) {
        case RtfContent::Html:
            body.kind = FormattedBody::Kind::Html;
            body.data = std::move(t.text);
            break;
        case RtfContent::Text:
            body.kind = FormattedBody::Kind::Text;
            body.data = std::move(t.text);
            break;
        case RtfContent::Rtf:
            body.kind = FormattedBody::Kind::Rtf;
            body.data = rtf.rtf;
            break;
        }
        return body;
    }
    std::size_t from = 0;
    // Values begin with a header byte; HTML text never starts with a control byte.
    if (const auto first = v.u8(0);
        first && *first < 0x20 && *first != '\t' && *first != '\r' && *first != '\n') {
        from = 1;
    }
    body.raw = asString(value, from, value.size());
    const std::string_view raw = withoutTrailingNuls(body.raw);
    if (raw.empty()) {
        body.note = "formatted body empty";
        return body;
    }
    body.kind = FormattedBody::Kind::Html;
    body.data = htmlToUtf8(raw);
    return body;
}

FormattedBody ReadFormattedBody(const StoreReader& reader, const ValueLocation& loc) {
    std::vector<std::uint8_t> value;
    std::string note;
    bool unreadablePart = false;
    if (loc.reference) {
        if (loc.chunks.empty()) {
            FormattedBody b;
            b.note = "formatted body is a long value not found in the store file";
            return b;
        }
        value = reader.readLongValue(*loc.reference, loc.chunks, &note);
    } else if (loc.position != 0) {
        value = reader.readInPage(loc.position, loc.size, &note);
        if (!note.empty()) {
            unreadablePart = true;
        } else if (value.size() < loc.size) {
            note = "formatted body cut at its page end";
        }
    } else {
        return {};
    }
    FormattedBody body = DecodeFormattedValue(value);
    if (body.fromRtf && loc.position != 0 && !unreadablePart) {
        // A compressed stream carries its own length and reports itself when it was cut short;
        // a recorded size that runs past the page says nothing more.
        note.clear();
    }
    if (!note.empty()) {
        body.note = body.note.empty() ? note : note + "; " + body.note;
    }
    return body;
}

AttachmentData ReadAttachmentData(const StoreReader& reader, const ValueLocation& loc) {
    AttachmentData a;
    if (loc.position != 0) {
        const std::size_t want = loc.size > 0 ? loc.size - 1U : 0U;
        std::string unreadable;
        a.bytes = reader.readInPage(loc.position, want, &unreadable);
        a.found = true;
        if (!unreadable.empty()) {
            a.note = unreadable;
        } else if (a.bytes.size() < want) {
            a.note = "attachment cut at its page end";
        }
        return a;
    }
    if (!loc.reference || loc.chunks.empty()) {
        a.note = "attachment data not found in the store file";
        return a;
    }
    a.bytes = reader.readLongValue(*loc.reference, loc.chunks, &a.note);
    a.found = !a.bytes.empty();
    return a;
}

} // namespace edb::conv

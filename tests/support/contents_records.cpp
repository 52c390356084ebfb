#include "tests/support/contents_records.h"

#include "decode/contents_tables.h"

#include <stdexcept>

namespace edbtest {

namespace {

constexpr std::size_t kTagBase = 33;
constexpr std::size_t kTagBytes = 16; // four entries; values follow them

std::string_view prefixOf(std::string_view subject) {
    for (std::string_view p : {"RE: ", "Re: ", "FW: ", "Fw: "}) {
        if (subject.substr(0, p.size()) == p) {
            return subject.substr(0, p.size());
        }
    }
    return {};
}

struct Layout {
    std::u16string sender;
    std::u16string prefix;
    std::u16string subject;
    std::size_t senderAt = kTagBytes; // value offsets from the tag base
    std::size_t prefixAt = 0;
    std::size_t subjectAt = 0;
    std::size_t end = 0;
};

Layout layoutOf(const MessageSpec& m) {
    Layout l;
    const std::string_view prefix = prefixOf(m.subject);
    l.sender = toUtf16(m.sender);
    l.prefix = toUtf16(prefix);
    l.subject = toUtf16(std::string_view(m.subject).substr(prefix.size()));
    l.prefixAt = l.senderAt + 2 * l.sender.size();
    l.subjectAt = l.prefixAt + 2 * l.prefix.size();
    l.end = l.subjectAt + 2 * l.subject.size();
    return l;
}

} // namespace

std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0;
        std::size_t extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        if (i + extra >= s.size() && extra != 0) {
            throw std::invalid_argument("truncated UTF-8");
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

void writeCatalogRow(Page& page, std::size_t c, std::uint32_t objectId, std::uint32_t rootPage,
                     std::string_view name) {
    if (c < 34) {
        throw std::invalid_argument("catalog row name must start at 34 or later");
    }
    page.u32le(c - 34, objectId);
    page.u32le(c - 24, rootPage);
    page.u8(c - 4, static_cast<std::uint8_t>(name.size()));
    page.u8(c - 3, 0x80);
    page.ascii(c, name);
}

void writeChildList(Page& root, const std::vector<std::uint32_t>& children) {
    if (children.size() > kMaxChildren) {
        throw std::invalid_argument("too many children for one root page");
    }
    for (std::size_t k = 0; k < children.size(); ++k) {
        root.u32le(kChildListAt + kChildStride * k, children[k]);
    }
}

void chainPages(StoreBuilder& store, const std::vector<std::size_t>& fileIndices) {
    for (std::size_t k = 0; k < fileIndices.size(); ++k) {
        Page& p = store.page(fileIndices[k]);
        p.previous(k == 0 ? 0 : static_cast<std::uint32_t>(fileIndices[k - 1] - 1));
        p.next(k + 1 == fileIndices.size() ? 0
                                           : static_cast<std::uint32_t>(fileIndices[k + 1] - 1));
    }
}

void writeRecordIds(Page& page, std::size_t x, const edb::FolderId& folderId,
                    const edb::FolderId& messageId, std::uint64_t filetime) {
    page.u64le(x - 20, filetime);
    page.put(x, std::vector<std::uint8_t>(folderId.begin(), folderId.end()));
    page.put(x + 16, std::vector<std::uint8_t>(messageId.begin(), messageId.end()));
}

std::size_t recordSize(const MessageSpec& message) {
    return 20 + kTagBase + layoutOf(message).end;
}

bool recordFits(const MessageSpec& message) {
    const Layout l = layoutOf(message);
    // The sender's offsets and the subject's start are read by their low bytes alone; the
    // subject's length gains 256 per step of its end offset's high nibble, up to two.
    const std::size_t subjectLow = (2 * l.subject.size()) % 256;
    return l.prefixAt < 256 && l.subjectAt + subjectLow < 256 && l.end < 0x300;
}

std::size_t writeContentsRecord(Page& page, std::size_t x, const edb::FolderId& folderId,
                                const MessageSpec& message) {
    if (!recordFits(message)) {
        throw std::invalid_argument("sender or subject too long for a contents-table record");
    }
    const Layout l = layoutOf(message);
    writeRecordIds(page, x, folderId, message.messageId, message.filetime);
    const std::size_t b = x + kTagBase;
    page.tag(b, kColumnSender, static_cast<std::uint16_t>(l.senderAt));
    page.tag(b + 4, kColumnSubjectPrefix, static_cast<std::uint16_t>(l.prefixAt));
    page.tag(b + 8, kColumnSubject, static_cast<std::uint16_t>(l.subjectAt));
    page.tag(b + 12, kColumnAfterSubject, static_cast<std::uint16_t>(l.end));
    page.utf16(b + l.senderAt, l.sender);
    page.utf16(b + l.prefixAt, l.prefix);
    page.utf16(b + l.subjectAt, l.subject);
    return b + l.end;
}

ContentsTablePages addContentsTable(StoreBuilder& store, const edb::FolderId& folderId,
                                    std::uint32_t objectId,
                                    const std::vector<MessageSpec>& messages) {
    ContentsTablePages out;
    out.catalogPage = store.addPage(2);
    out.nameAt = 64;
    out.rootPage = store.addPage(objectId);

    std::size_t at = kPage; // forces a first leaf
    for (const MessageSpec& m : messages) {
        const std::size_t size = recordSize(m);
        if (at + size > kPage) {
            out.leafPages.push_back(store.addPage(objectId));
            at = kFirstRecordAt;
        }
        at = writeContentsRecord(store.page(out.leafPages.back()), at + 20, folderId, m);
    }

    std::vector<std::uint32_t> children;
    for (std::size_t k = 0; k < out.leafPages.size() && k < kMaxChildren; ++k) {
        children.push_back(static_cast<std::uint32_t>(out.leafPages[k] - 1));
    }
    writeChildList(store.page(out.rootPage), children);
    chainPages(store, out.leafPages);
    writeCatalogRow(store.page(out.catalogPage), out.nameAt, objectId,
                    static_cast<std::uint32_t>(out.rootPage - 1), edb::ContentsTableName(folderId));
    return out;
}

} // namespace edbtest

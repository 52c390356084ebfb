#include "decode/properties.h"
#include "catalog/catalog.h"
#include "tests/support/properties_records.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using edbtest::Id8;
using edbtest::MessagePropertiesSpec;
using edbtest::Page;

constexpr std::uint64_t kPageOffset = 8 * 4096;
const Id8 kFolder = edbtest::makeId(0x500);

class PropertiesTest : public ::testing::Test {
protected:
    PropertiesTest() { catalog.n1013Code = {0x5C, 0x01}; } // what a scan starts with
    edb::MessageEntry& addMessage(const Id8& id, std::string subject = "Subject",
                                  std::string sender = "", char kind = 0) {
        catalog.messages.AddMessage(kFolder, id, subject, sender, 0, kind);
        edb::MessageEntry* last = nullptr;
        for (auto& m : catalog.messages) {
            last = &m;
        }
        return *last;
    }
    bool read() {
        return edb::ReadMessageProperties(
            catalog, edb::ByteView(page.bytes().data(), page.bytes().size()), kPageOffset);
    }
    // Page position of the first occurrence of `pattern`.
    std::int64_t find(const std::vector<std::uint8_t>& pattern) const {
        const auto& b = page.bytes();
        auto it = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
        return it == b.end() ? -1 : it - b.begin();
    }

    edb::StoreCatalog catalog;
    Page page;
};

MessagePropertiesSpec spec(const Id8& id) {
    MessagePropertiesSpec s;
    s.messageId = id;
    s.sender = "Alice";
    return s;
}

TEST_F(PropertiesTest, ShortPageOrNoAnchorReadsNothing) {
    addMessage(edbtest::makeId(1));
    EXPECT_FALSE(edb::ReadMessageProperties(catalog, edb::ByteView(page.bytes().data(), 32), 0));
    EXPECT_FALSE(read());
}

TEST_F(PropertiesTest, OnlyTheFirst300AnchorsAreUsed) {
    for (const int dummies : {299, 300}) {
        SCOPED_TRACE(dummies);
        page = Page();
        // "01 01 07" repeated: one anchor pattern every three bytes.
        for (int k = 0; k < dummies; ++k) {
            page.put(32 + 3 * static_cast<std::size_t>(k), {0x01, 0x01, 0x07});
        }
        const Id8 id = edbtest::makeId(static_cast<std::uint64_t>(dummies));
        edb::MessageEntry& m = addMessage(id);
        edbtest::writeMessageProperties(page, 1000, spec(id));
        EXPECT_TRUE(read());
        EXPECT_EQ(m.propertiesRead, dummies == 299);
    }
}

TEST_F(PropertiesTest, AnchorWithZeroFixedPartIsPassedOver) {
    const Id8 id = edbtest::makeId(9);
    edb::MessageEntry& m = addMessage(id);
    // An anchor of the shifted form (00 01 four bytes before 01 01) whose length byte is 0.
    const std::size_t i = 200;
    page.put(i - 28, std::vector<std::uint8_t>(id.begin(), id.end()));
    page.put(i - 4, {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x05});
    auto second = spec(id);
    second.sender = "Second";
    edbtest::writeMessageProperties(page, 600, second);
    EXPECT_TRUE(read());
    EXPECT_TRUE(m.propertiesRead);
    EXPECT_EQ(m.sender, "Second");
}

TEST_F(PropertiesTest, SenderFallback) {
    struct Case {
        const char* name;
        std::string stored;    // sender from the contents table
        std::string candidate; // bytes in the record
        int codePage;
        bool skipped;
        std::optional<std::uint8_t> fixedPart;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"taken", "", "Alice", 1252, false, {}, "Alice"},
        {"kept when set", "Bob", "Alice", 1252, false, {}, "Bob"},
        {"03 01 record", "", "Alice", 1252, true, {}, ""},
        {"fixed part 228", "", "Alice", 1252, false, 228, ""},
        {"first byte below 02",
         "",
         "\x01"
         "Alice",
         1252,
         false,
         {},
         ""},
        {"first byte above 7E",
         "",
         "\x7F"
         "Alice",
         1252,
         false,
         {},
         ""},
        {"no marker", "", "Carol", 0, false, {}, "Carol"},
        {"code page 1252", "", "Jos\xE9", 1252, false, {}, "Jos\xC3\xA9"},
        {"code page 1251",
         "",
         "B\xC8\xE2\xE0\xED",
         1251,
         false,
         {},
         "B\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
        {"up to a zero byte", "", std::string("Al\0ce", 5), 1252, false, {}, "Al"},
    };
    std::uint64_t n = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page = Page();
        const Id8 id = edbtest::makeId(++n);
        edb::MessageEntry& m = addMessage(id, "S", c.stored);
        auto s = spec(id);
        s.sender = c.candidate;
        s.senderCodePage = c.codePage;
        s.senderSkipped = c.skipped;
        s.fixedPartLength = c.fixedPart;
        edbtest::writeMessageProperties(page, 100, s);
        read();
        EXPECT_TRUE(m.propertiesRead);
        EXPECT_EQ(m.sender, c.expected);
    }
}

TEST_F(PropertiesTest, PrimaryBodyReferenceOrPosition) {
    const Id8 a = edbtest::makeId(1);
    const Id8 b = edbtest::makeId(2);
    edb::MessageEntry& ma = addMessage(a);
    edb::MessageEntry& mb = addMessage(b);
    auto sa = spec(a);
    sa.primary.kind = edbtest::PrimaryBodySpec::Kind::LongValue;
    sa.primary.reference = 0x1234;
    auto sb = spec(b);
    sb.primary.kind = edbtest::PrimaryBodySpec::Kind::Inline;
    sb.primary.text = "Hello body";
    edbtest::writeMessageProperties(page, 40, sa);
    edbtest::writeMessageProperties(page, 400, sb);
    EXPECT_TRUE(read());

    EXPECT_EQ(ma.primaryBody.size, 5);
    EXPECT_EQ(ma.primaryBody.reference, 0x1234);
    EXPECT_EQ(ma.primaryBody.position, 0u);
    const auto ref = find({0x05, 0x12, 0x34, 0x00, 0x00});
    EXPECT_EQ(ma.primaryBody.valueStart, kPageOffset + static_cast<std::uint64_t>(ref));
    EXPECT_EQ(ma.primaryBody.valueEnd, ma.primaryBody.valueStart + 5);

    const auto text = find({'H', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(mb.primaryBody.reference);
    EXPECT_EQ(mb.primaryBody.size, 6 + 10);
    EXPECT_EQ(mb.primaryBody.position, kPageOffset + static_cast<std::uint64_t>(text));
    EXPECT_EQ(mb.primaryBody.valueStart + 6, mb.primaryBody.position);
    EXPECT_EQ(mb.primaryBody.codePage, 1252);

    // A 1251 marker gives no position (only E4 04 does) but tells the reader of the value range
    // its code page.
    page = Page();
    const Id8 c = edbtest::makeId(3);
    edb::MessageEntry& mc = addMessage(c);
    auto sc = spec(c);
    sc.primary.kind = edbtest::PrimaryBodySpec::Kind::Inline;
    sc.primary.text = "\xCF\xF0\xE8";
    sc.primary.codePage = 1251;
    edbtest::writeMessageProperties(page, 40, sc);
    read();
    EXPECT_EQ(mc.primaryBody.position, 0u);
    EXPECT_EQ(mc.primaryBody.codePage, 1251);
    EXPECT_EQ(mc.primaryBody.valueEnd - mc.primaryBody.valueStart, 9u);
}

TEST_F(PropertiesTest, PrimaryBodyMarkerMustLieInFirst60Bytes) {
    for (const std::size_t markerAt : {59u, 60u}) {
        SCOPED_TRACE(markerAt);
        page = Page();
        const Id8 id = edbtest::makeId(markerAt);
        edb::MessageEntry& m = addMessage(id);
        auto s = spec(id);
        s.primary.kind = edbtest::PrimaryBodySpec::Kind::Inline;
        s.primary.text = std::string(80, 'x');
        edbtest::writeMessageProperties(page, 40, s);
        const auto start = static_cast<std::size_t>(find({0xE4, 0x04, 80, 0, 0, 0}));
        page.put(start, {0x00, 0x00});
        page.put(start + markerAt, {0xE4, 0x04});
        read();
        EXPECT_EQ(m.primaryBody.size, 86);
        EXPECT_EQ(m.primaryBody.position, markerAt == 59 ? kPageOffset + start + markerAt + 6 : 0u);
    }
}

TEST_F(PropertiesTest, FormattedBodyColumnOrCompressedRtfSearch) {
    const std::vector<std::uint8_t> lzfu = {0x2d, 0,   0,   0,    0x2b, 0,    0,    0,  'L',
                                            'Z',  'F', 'u', 0xf1, 0xc5, 0xc7, 0xa7, 'x'};
    struct Case {
        const char* name;
        edbtest::FormattedBodySpec formatted;
        std::array<std::uint8_t, 2> code;
        bool primaryReference;
        std::optional<std::uint16_t> expectedReference;
        std::uint16_t expectedSize;
    };
    using K = edbtest::FormattedBodySpec::Kind;
    const std::vector<Case> cases = {
        {"html in the N1013 column",
         {K::Html, {'<', 'p', '>', 'h', 'i', '!'}, false, 0, 0},
         {0x5C, 0x01},
         false,
         {},
         6},
        {"html reference in the N1013 column",
         {K::Html, {}, true, 0x0203, 0},
         {0x5C, 0x01},
         false,
         0x0203,
         5},
        {"LZFu stream found by search",
         {K::Rtf, lzfu, false, 0, 0},
         {0x5C, 0x01},
         true,
         {},
         static_cast<std::uint16_t>(lzfu.size() + 1)},
        {"5-byte value found by search",
         {K::Rtf, {}, true, 0x0304, 0},
         {0x5C, 0x01},
         true,
         0x0304,
         5},
        {"primary body entry never taken", {}, {0x5C, 0x01}, true, {}, 0},
        {"code byte 0x80 matches nothing",
         {K::Html, {'<', 'b', '>', 'x', 'y', 'z'}, false, 0, 0x0180},
         {0x80, 0x01},
         false,
         {},
         0},
        {"code byte 0x7F matches",
         {K::Html, {'<', 'b', '>', 'x', 'y', 'z'}, false, 0, 0x017F},
         {0x7F, 0x01},
         false,
         {},
         6},
    };
    std::uint64_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page = Page();
        catalog.n1013Code = c.code;
        const Id8 id = edbtest::makeId(++n);
        edb::MessageEntry& m = addMessage(id);
        auto s = spec(id);
        s.formatted = c.formatted;
        if (c.primaryReference) {
            s.primary.kind = edbtest::PrimaryBodySpec::Kind::LongValue;
            s.primary.reference = 0x0101;
        }
        edbtest::writeMessageProperties(page, 40, s);
        read();
        EXPECT_EQ(m.formattedBody.reference, c.expectedReference);
        EXPECT_EQ(m.formattedBody.size, c.expectedSize);
        if (c.expectedSize == 0) {
            EXPECT_EQ(m.formattedBody.position, 0u);
            continue;
        }
        const auto stored = edbtest::formattedBodyBytes(c.formatted);
        const auto value = c.formatted.longValue
                               ? find({0x05, static_cast<std::uint8_t>(c.formatted.reference >> 8),
                                       static_cast<std::uint8_t>(c.formatted.reference)})
                               : find(stored);
        EXPECT_EQ(m.formattedBody.position, kPageOffset + static_cast<std::uint64_t>(value));
    }
}

TEST_F(PropertiesTest, UnusableEntryEndsDecoding) {
    const Id8 id = edbtest::makeId(3);
    const Id8 att = edbtest::makeAttachmentId(1);
    // Primary body entry whose next offset is not past its own: nothing after it is read.
    {
        edb::MessageEntry& m = addMessage(id);
        auto s = spec(id);
        s.primary.kind = edbtest::PrimaryBodySpec::Kind::Inline;
        s.primary.text = "text";
        s.attachmentIds = {att};
        s.formatted = {
            edbtest::FormattedBodySpec::Kind::Html, {'<', 'p', '>', 'h', 'i', '!'}, false, 0, 0};
        edbtest::writeMessageProperties(page, 40, s);
        const std::size_t r = 64;
        page.put(r + 4 + 4 + 2, {page.bytes()[r + 4 + 2], page.bytes()[r + 4 + 3]});
        read();
        EXPECT_TRUE(m.propertiesRead);
        EXPECT_EQ(m.sender, "Alice");
        EXPECT_EQ(m.primaryBody.size, 0);
        EXPECT_EQ(m.formattedBody.size, 0);
        EXPECT_TRUE(m.attachmentIds.empty());
    }
    // Unusable N1013-code column: the primary body stays, the ids are not read.
    {
        page = Page();
        const Id8 id2 = edbtest::makeId(4);
        edb::MessageEntry& m = addMessage(id2);
        auto s = spec(id2);
        s.primary.kind = edbtest::PrimaryBodySpec::Kind::Inline;
        s.primary.text = "text";
        s.formatted = {
            edbtest::FormattedBodySpec::Kind::Html, {'<', 'p', '>', 'h', 'i', '!'}, false, 0, 0};
        s.attachmentIds = {att};
        edbtest::writeMessageProperties(page, 40, s);
        // The entry after the N1013-code column repeats its offset: an empty value.
        page.put(64 + 12 + 2, {page.bytes()[64 + 8 + 2], page.bytes()[64 + 8 + 3]});
        read();
        EXPECT_EQ(m.primaryBody.size, 10);
        EXPECT_EQ(m.formattedBody.size, 0);
        EXPECT_TRUE(m.attachmentIds.empty());
    }
}

TEST_F(PropertiesTest, AttachmentIdLists) {
    const Id8 a1 = edbtest::makeAttachmentId(1);
    const Id8 a2 = edbtest::makeAttachmentId(2);
    const Id8 a3 = edbtest::makeAttachmentId(3);
    for (const bool headerOne : {true, false}) {
        SCOPED_TRACE(headerOne);
        page = Page();
        const Id8 id = edbtest::makeId(headerOne ? 10 : 11);
        edb::MessageEntry& m = addMessage(id);
        auto s = spec(id);
        s.attachmentIds = {a1, a2, a3, a2};
        s.attachmentIdsHeaderOne = headerOne;
        edbtest::writeMessageProperties(page, 40, s);
        read();
        const std::vector<edb::FolderId> expected =
            headerOne ? std::vector<edb::FolderId>{a1, a2, a3} : std::vector<edb::FolderId>{a2, a3};
        EXPECT_EQ(m.attachmentIds, expected);
    }
}

TEST_F(PropertiesTest, ContactFields) {
    struct Case {
        std::string subject;
        std::string first;
        std::string last;
    };
    const std::vector<Case> cases = {
        {"Smith John", "John", "Smith"},
        {"Smith John Paul", "John Paul", "Smith"},
        {"Madonna", "", ""},
    };
    std::uint64_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject);
        page = Page();
        const Id8 id = edbtest::makeId(++n);
        edb::MessageEntry& m = addMessage(id, c.subject, "", edb::kKindContact);
        auto s = spec(id);
        s.contact = edbtest::ContactColumnsSpec{u"555-1", u"555-2", u"555-3", u"1 Main St",
                                                u"j\u00F6hn@example.com"};
        edbtest::writeMessageProperties(page, 40, s);
        // The value after the e-mail address starts with a byte that is no stop byte: the
        // e-mail text still ends with its value.
        const auto mail = find({'j', 0, 0xF6, 0});
        page.put(static_cast<std::size_t>(mail) + 32, {'Z'});
        read();
        ASSERT_EQ(m.contacts.size(), 1u);
        const edb::ContactEntry& e = m.contacts.front();
        EXPECT_EQ(e.fullName, c.subject);
        EXPECT_EQ(e.firstName, c.first);
        EXPECT_EQ(e.lastName, c.last);
        EXPECT_EQ(e.homePhone, "555-1");
        EXPECT_EQ(e.businessPhone, "555-2");
        EXPECT_EQ(e.mobilePhone, "555-3");
        EXPECT_EQ(e.businessAddress, "1 Main St");
        EXPECT_EQ(e.emailAddress, "j\xC3\xB6hn@example.com");
    }
    // Not a contact folder's message: no contact.
    page = Page();
    const Id8 id = edbtest::makeId(99);
    edb::MessageEntry& m = addMessage(id, "Smith John");
    auto s = spec(id);
    s.contact = edbtest::ContactColumnsSpec{};
    edbtest::writeMessageProperties(page, 40, s);
    read();
    EXPECT_TRUE(m.contacts.empty());
}

TEST_F(PropertiesTest, MessageIsDecodedOnce) {
    const Id8 id = edbtest::makeId(5);
    edb::MessageEntry& m = addMessage(id);
    auto first = spec(id);
    first.sender = "";
    edbtest::writeMessageProperties(page, 40, first);
    read();
    page = Page();
    edbtest::writeMessageProperties(page, 40, spec(id));
    read();
    EXPECT_TRUE(m.propertiesRead);
    EXPECT_EQ(m.sender, "");
}

TEST(PropertiesLists, AddContactAndAttachmentIdRejectDuplicates) {
    std::vector<edb::FolderId> ids;
    EXPECT_TRUE(edb::AddAttachmentId(ids, edbtest::makeAttachmentId(1)));
    EXPECT_FALSE(edb::AddAttachmentId(ids, edbtest::makeAttachmentId(1)));
    std::vector<edb::ContactEntry> contacts;
    edb::ContactEntry c{"a", "b", "c", "d", "e", "f", "g", "h"};
    EXPECT_TRUE(edb::AddContact(contacts, c));
    EXPECT_FALSE(edb::AddContact(contacts, c));
    c.emailAddress = "i";
    EXPECT_TRUE(edb::AddContact(contacts, c));
    EXPECT_EQ(contacts.size(), 2u);
}

} // namespace

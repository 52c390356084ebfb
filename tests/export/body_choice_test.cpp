// End to end, the body a reader is shown: a store whose bodies are binary, compressed RTF that
// lost its stream header, UTF-16, HTML alone, and text attachments in several charsets is
// converted, and Python's email package reads every file back (check_bodies.py): the text/plain
// part is the readable text, no text part holds a NUL, text/html is HTML, what could not be
// read is an application/octet-stream attachment, text attachments decode in their charset.
#include "catalog/catalog.h"
#include "convert/convert.h"
#include "tests/export/store_values.h"
#include "tests/support/lzfu_writer.h"
#include "tests/support/store_builder.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace {
using namespace edb::conv;
using namespace edbtest;
namespace fs = std::filesystem;

constexpr std::uint64_t kFiletime = 0x01c2d345fc5db900ULL;

struct Shown {
    std::string subject;
    std::string plain;        // text get_body(('plain',)) must hold
    bool html = false;        // a text/html alternative is expected
    std::string missingPlain; // text that must not be in the plain part
    // name, content type, charset ("" = none), decoded text ("" = not compared)
    std::vector<std::array<std::string, 4>> attachments;
};

std::string toJson(const std::vector<Shown>& all) {
    std::string j = "[";
    for (const Shown& s : all) {
        j += (j.size() > 1 ? ",\n{" : "{");
        j += "\"subject\":" + jsonString(s.subject) + ",\"plain\":" + jsonString(s.plain) +
             ",\"html\":" + (s.html ? "true" : "false") +
             ",\"missing_plain\":" + jsonString(s.missingPlain) + ",\"attachments\":[";
        for (std::size_t i = 0; i < s.attachments.size(); ++i) {
            j += i ? "," : "";
            j += "[" + jsonString(s.attachments[i][0]) + "," + jsonString(s.attachments[i][1]) +
                 "," + jsonString(s.attachments[i][2]) + "," + jsonString(s.attachments[i][3]) +
                 "]";
        }
        j += "]}";
    }
    return j + "]\n";
}

std::string hexAt(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

std::string utf16le(std::u16string_view s, bool bom) {
    std::string out = bom ? "\xFF\xFE" : "";
    for (const char16_t u : s) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

class BodyChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_b.page(0);
        m_catalog.mailboxList.AddFolder(FolderId{}, id(1), "Ann", 0);
        m_catalog.folderList.AddFolder(id(1), id(2), "Inbox", 0);

        // 1: the plain value read back is binary (zero bytes, a little noise), the formatted
        // body a good compressed RTF that carries text.
        std::string zeros(1000, '\0');
        zeros += "\x8f\x01\x02";
        auto& m1 = add(1, "Binary plain, good RTF");
        const std::uint64_t plain1 = setPlain(m1, 1, 100, plainValue(zeros, 0xE4));
        std::vector<std::uint8_t> f1{0x00};
        const auto rtf1 = lzfuLiteralStream("{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0{\\fonttbl"
                                            "{\\f0 Arial;}}\\pard The real text\\par of the "
                                            "message.}");
        f1.insert(f1.end(), rtf1.begin(), rtf1.end());
        setFormatted(m1, 1, 2000, f1);
        const std::string bin1 = "plain body at " + hexAt(plain1) + ".bin";
        m_shown.push_back({m1.subject,
                           "The real text\nof the message.",
                           false,
                           "\x01",
                           {{bin1, "application/octet-stream", "", ""}}});

        // 2: a compressed RTF stream whose header lies two bytes in: its bytes hold tags, but
        // they are no HTML. The plain body is shown, the value attached as it is.
        std::vector<std::uint8_t> f2{0x00, 0x00};
        const auto rtf2 = lzfuLiteralStream(
            "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag19 <html>}{\\*\\htmltag34 <body>}"
            "{\\*\\htmltag64 <p>}Hello there{\\*\\htmltag72 </p>}{\\*\\htmltag35 </body>}}");
        f2.insert(f2.end(), rtf2.begin(), rtf2.end());
        auto& m2 = add(2, "Stream bytes, not HTML");
        setPlain(m2, 2, 100, plainValue("Plain words.", 0xE4));
        const std::uint64_t at2 = setFormatted(m2, 2, 1000, f2);
        m_shown.push_back(
            {m2.subject,
             "Plain words.",
             false,
             "",
             {{"formatted body at " + hexAt(at2) + ".bin", "application/octet-stream", "", ""}}});

        // 3: binary bytes with markup in them and nothing else: nothing readable is shown.
        std::vector<std::uint8_t> f3{0x01};
        for (int i = 0; i < 300; ++i) {
            f3.push_back(static_cast<std::uint8_t>((i * 73 + 11) % 251));
        }
        const auto tag = bytes("<b>not shown</b>");
        f3.insert(f3.begin() + 40, tag.begin(), tag.end());
        auto& m3 = add(3, "Only binary");
        const std::uint64_t at3 = setFormatted(m3, 2, 2000, f3);
        const std::string bin3 = "formatted body at " + hexAt(at3) + ".bin";
        m_shown.push_back({m3.subject,
                           "[Exchange To Eml: the formatted body holds no readable text; it is "
                           "attached as '" +
                               bin3 + "']",
                           false,
                           "not shown",
                           {{bin3, "application/octet-stream", "", ""}}});

        // 4: the plain value is UTF-16 although its marker names a code page.
        auto& m4 = add(4, "UTF-16 plain");
        setPlain(m4, 3, 100,
                 plainValue(utf16le(u"Привет, copy that.\r\nSecond line.", false), 0xE4));
        m_shown.push_back({m4.subject, "Привет, copy that.\nSecond line.", false, "", {}});

        // 5: HTML alone: text readers get its visible text.
        auto& m5 = add(5, "HTML only");
        setFormatted(m5, 3, 1000,
                     bytes("\x01<html><head><style>p {color: red}</style></head><body><p>Hello"
                           "&nbsp;there,</p><p>fish &amp; chips</p></body></html>"));
        m_shown.push_back({m5.subject, "Hello there,\nfish & chips", true, "color", {}});

        // 6: text attachments in four charsets, one of which cannot be told.
        auto& m6 = add(6, "Text attachments");
        setPlain(m6, 4, 100, plainValue("See attached.", 0xE4));
        const std::vector<std::pair<std::string, std::string>> files = {
            {"utf8.txt", "Gr\xC3\xBC\xC3\x9F"
                         "e aus K\xC3\xB6ln\n"},
            {"ascii.txt", "plain ASCII\n"},
            {"wide.txt", utf16le(u"Grüße aus Köln\n", true)},
            {"cp1252.txt", "Gr\xFC\xDF"
                           "e aus K\xF6ln\n"},
        };
        std::size_t at = 1000;
        for (const auto& [name, data] : files) {
            m_b.page(4).u8(at, 0x01).put(at + 1, bytes(data));
            edb::AttachmentEntry a;
            a.name = name;
            a.position = pos(4, at + 1);
            a.size = static_cast<std::uint16_t>(data.size() + 1);
            m6.attachments.push_back(std::move(a));
            at += 100;
        }
        m_shown.push_back({m6.subject,
                           "See attached.",
                           false,
                           "",
                           {{"utf8.txt", "text/plain", "utf-8", "Grüße aus Köln\n"},
                            {"ascii.txt", "text/plain", "us-ascii", "plain ASCII\n"},
                            {"wide.txt", "application/octet-stream", "", ""},
                            {"cp1252.txt", "application/octet-stream", "", ""}}});

        m_b.page(5);
        m_b.writeTo(m_store.path());
        ASSERT_TRUE(m_catalog.storeFile.Open(m_store.str()));
        m_catalog.storeSize = m_catalog.storeFile.GetLength();
    }

    static std::uint64_t pos(std::size_t page, std::size_t off) {
        return StoreBuilder::offsetOf(page) + off;
    }

    std::uint64_t setPlain(edb::MessageEntry& m, std::size_t page, std::size_t at,
                           const std::vector<std::uint8_t>& value) {
        m_b.page(page).put(at, value);
        m.primaryBody.position = pos(page, at + 6);
        m.primaryBody.size = static_cast<std::uint16_t>(value.size());
        m.primaryBody.valueEnd = pos(page, at + value.size());
        return m.primaryBody.position;
    }

    std::uint64_t setFormatted(edb::MessageEntry& m, std::size_t page, std::size_t at,
                               const std::vector<std::uint8_t>& value) {
        m_b.page(page).put(at, value);
        m.formattedBody.position = pos(page, at);
        m.formattedBody.size = static_cast<std::uint16_t>(value.size());
        return m.formattedBody.position;
    }

    edb::MessageEntry& add(std::uint8_t n, const std::string& subject) {
        const FolderId mid{0x02, 0, 0, 0, 0, 0, 0x40, n};
        m_catalog.messages.AddMessage(id(2), mid, subject, "ann@example.org", kFiletime, 0);
        for (edb::MessageEntry& m : m_catalog.messages) {
            if (m.messageId == mid) {
                return m;
            }
        }
        throw std::logic_error("message not added");
    }

    StoreBuilder m_b;
    TempFile m_store;
    edb::StoreCatalog m_catalog;
    std::vector<Shown> m_shown;
};

TEST_F(BodyChoiceTest, ReadersAreShownTheReadableBodyAndNeverBinary) {
    TempDir out;
    ConvertOptions options;
    options.outDir = out.path() / "export";
    const auto summary = Convert(m_catalog, ListFolders(m_catalog), options);
    EXPECT_EQ(summary.saved, m_shown.size());
    EXPECT_EQ(summary.failed, 0U);
#if defined(EDB_PYTHON) && defined(EDB_BODY_CHECKER)
    const fs::path expect = out.path() / "expected.json";
    std::ofstream(expect, std::ios::binary) << toJson(m_shown);
    const std::string cmd = std::string("\"") + EDB_PYTHON + "\" \"" + EDB_BODY_CHECKER + "\" \"" +
                            options.outDir.string() + "\" \"" + expect.string() + "\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
#else
    GTEST_SKIP() << "no Python to read the files back";
#endif
}

} // namespace

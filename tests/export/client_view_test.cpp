// End to end, as mail clients read the files: a store with hostile names and subjects, damaged
// bodies beside good ones, empty and missing attachments, Sent Items and a folder found twice
// is converted; Python's email package and maildrop's reformime (two independent parsers) read
// every file back and compare names, subjects, senders and shown texts with what went in.
#include "convert/convert.h"
#include "deliver/export_log.h"
#include "catalog/catalog.h"
#include "tests/export/gmime_reader.h"
#include "tests/export/store_values.h"
#include "tests/support/store_builder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {
using namespace edb::conv;
using namespace edbtest;
namespace fs = std::filesystem;

constexpr std::uint64_t kFiletime = 0x01c2d345fc5db900ULL; // Thu, 13 Feb 2003 09:55:06 +0000
constexpr std::uint64_t kYear1601 = 0x0000000100000000ULL; // a placeholder time
constexpr const char* kDirectoryName = "/O=ACME/OU=FIRST GROUP/CN=RECIPIENTS/CN=DSMITH";

struct Expect {
    std::string subject;
    std::string fromName;
    std::string fromAddress;
    std::string toAddress;                // "" = no To header
    bool dated = true;                    // false: no Date header
    std::string shown;                    // text the shown body holds
    std::string shownType = "text/plain"; // the part a client shows first
    std::vector<std::string> notes;       // lines expected at the end of the shown text
    bool rtf = false;
    std::vector<std::pair<std::string, std::string>> attachments; // name, content
};

std::string expectJson(const std::vector<Expect>& all) {
    std::string j = "[";
    for (const Expect& e : all) {
        j += (j.size() > 1 ? ",\n{" : "{");
        j += "\"subject\":" + jsonString(e.subject) + ",\"from_name\":" + jsonString(e.fromName) +
             ",\"from_address\":" + jsonString(e.fromAddress) +
             ",\"to_address\":" + jsonString(e.toAddress) +
             ",\"dated\":" + (e.dated ? "true" : "false") + ",\"shown\":" + jsonString(e.shown) +
             ",\"shown_type\":" + jsonString(e.shownType) +
             ",\"rtf\":" + (e.rtf ? "true" : "false") + ",\"notes\":[";
        for (std::size_t i = 0; i < e.notes.size(); ++i) {
            j += (i ? "," : "") + jsonString(e.notes[i]);
        }
        j += "],\"attachments\":{";
        for (std::size_t i = 0; i < e.attachments.size(); ++i) {
            j += (i ? "," : "") + jsonString(e.attachments[i].first) + ":" +
                 jsonString(hexOf(bytes(e.attachments[i].second)));
        }
        j += "}}";
    }
    return j + "]\n";
}

class ClientViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        StoreBuilder b;
        b.page(0);
        auto& cat = m_catalog;
        cat.mailboxList.AddFolder(FolderId{}, id(1), "Иван Петров", 0);
        cat.folderList.AddFolder(id(1), id(2), "Inbox", 0);
        cat.folderList.AddFolder(id(1), id(3), "Sent Items", 0);
        cat.folderList.AddFolder(id(1), id(2), "Inbox (found again)", 0); // one id, two records

        // 1: every name and text that reaches a header is hostile.
        const std::vector<std::pair<std::string, std::string>> hostile = {
            {"new\r\nX-Injected: yes", "one"},
            {"Long =?UTF-8?B?ZXZpbC5leGU=?=", "two"},
            {"Отчёт за квартал — итоги и планы на следующий год.doc", "three"},
            {"say \"hi\"; x=1\\y.txt", "four"},
            {"abc\u202Etxt.exe", "five"},
            {"empty.txt", ""},
        };
        std::size_t at = 100;
        std::vector<edb::AttachmentEntry> atts;
        for (const auto& [name, data] : hostile) {
            b.page(1).u8(at, 0x01).put(at + 1, bytes(data));
            edb::AttachmentEntry a;
            a.name = name;
            a.position = pos(1, at + 1);
            a.size = static_cast<std::uint16_t>(data.size() + 1);
            atts.push_back(std::move(a));
            at += 16;
        }
        const auto p1 = plainValue("Body one.", 0xE4);
        b.page(1).put(1000, p1);
        {
            auto& m = add(id(2), 1, "Report\r\nX-Injected: subject", "Evil\r\nX-Injected: from");
            setPlain(m, 1, 1000, p1);
            m.attachments = std::move(atts);
        }
        m_expect.push_back({"Report X-Injected: subject",
                            "Evil X-Injected: from",
                            "evil.x.injected.from@no-address.invalid",
                            "",
                            true,
                            "Body one.",
                            "text/plain",
                            {},
                            false,
                            {{"new_X-Injected: yes", "one"},
                             {"Long =?UTF-8?B?ZXZpbC5leGU=?=", "two"},
                             {"Отчёт за квартал — итоги и планы на следующий год.doc", "three"},
                             {"say \"hi\"; x=1\\y.txt", "four"},
                             {"abc_txt.exe", "five"},
                             {"empty.txt", ""}}});

        // 2: a long non-ASCII subject, a sender with no address, a placeholder time.
        std::string subject;
        for (int i = 0; i < 12; ++i) {
            subject += "Съешь же ещё этих мягких булок 🍞 ";
        }
        subject += "конец";
        {
            auto& m = add(id(2), 2, subject, "Пётр Сидоров", kYear1601);
            const auto p = plainValue("Two.", 0xE4);
            b.page(1).put(1100, p);
            setPlain(m, 1, 1100, p);
        }
        m_expect.push_back({subject,
                            "Пётр Сидоров",
                            "unknown@no-address.invalid",
                            "",
                            false,
                            "Two.",
                            "text/plain",
                            {},
                            false,
                            {}});

        // 3: the plain body is a long value whose first chunk is missing, the formatted body
        // (HTML inside RTF) reads back: the HTML is shown, the part that was read goes along.
        const std::string rtfHtml =
            "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
            "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <body>}{\\*\\htmltag0 Formatted caf\\'e9}"
            "{\\*\\htmltag35 </body>}{\\*\\htmltag27 </html>}}";
        const auto f3 = storedRtfValue(rtfHtml);
        b.page(2).put(100, f3);
        putChunk(b.page(3), 42, 0x0401, 4014, bytes("tail of the plain body"));
        {
            auto& m = add(id(2), 3, "Damaged plain, good HTML", "Bob <bob@example.com>");
            m.primaryBody.size = 5;
            m.primaryBody.reference = 0x0401;
            m.primaryBody.chunks.AddOffset(pos(3, 42));
            m.formattedBody.position = pos(2, 100);
            m.formattedBody.size = static_cast<std::uint16_t>(f3.size());
        }
        m_expect.push_back(
            {"Damaged plain, good HTML",
             "Bob",
             "bob@example.com",
             "",
             true,
             "Formatted café",
             "text/html",
             {"[Exchange To Eml: the plain text body could not be read completely from the "
              "store]"},
             false,
             {}});

        // 4: the reverse: a good plain body, the formatted body a long value not in the store,
        // and an attachment whose data is missing.
        {
            const auto p = plainValue("Plain and whole.", 0xE4);
            b.page(2).put(1000, p);
            auto& m = add(id(2), 4, "Good plain, damaged formatted", "carol@example.org");
            setPlain(m, 2, 1000, p);
            m.formattedBody.size = 5;
            m.formattedBody.reference = 0x0402;
            edb::AttachmentEntry a;
            a.name = "x.doc";
            a.size = 5;
            a.reference = 0x0403;
            m.attachments.push_back(std::move(a));
        }
        m_expect.push_back(
            {"Good plain, damaged formatted",
             "",
             "carol@example.org",
             "",
             true,
             "Plain and whole.",
             "text/plain",
             {"[Exchange To Eml: the formatted body could not be read completely from the store]",
              "[Exchange To Eml: attachment 'x.doc' could not be read from the store]"},
             false,
             {}});

        // 5: RTF that encapsulates nothing: kept as application/rtf, its text shown.
        {
            const auto f = storedRtfValue(
                "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}\\pard Hello from "
                "RTF\\par second line}");
            b.page(2).put(2000, f);
            auto& m = add(id(2), 5, "Only RTF", kDirectoryName);
            m.formattedBody.position = pos(2, 2000);
            m.formattedBody.size = static_cast<std::uint16_t>(f.size());
        }
        m_expect.push_back({"Only RTF",
                            kDirectoryName,
                            "dsmith@no-address.invalid",
                            "",
                            true,
                            "Hello from RTF\nsecond line",
                            "text/plain",
                            {},
                            true,
                            {}});

        // 6: a formatted value that is no HTML (raw RTF text) beside a good plain body.
        {
            const auto p = plainValue("The real text.", 0xE4);
            b.page(2).put(3000, p);
            const auto f = bytes(std::string("\x01{\\rtf1 not html}", 17));
            b.page(2).put(3200, f);
            auto& m = add(id(2), 6, "Not HTML", "Eve Adams (eve@example.net)");
            setPlain(m, 2, 3000, p);
            m.formattedBody.position = pos(2, 3200);
            m.formattedBody.size = static_cast<std::uint16_t>(f.size());
        }
        m_expect.push_back({"Not HTML",
                            "Eve Adams",
                            "eve@example.net",
                            "",
                            true,
                            "The real text.",
                            "text/plain",
                            {},
                            true,
                            {}});

        // 8: one ASCII byte before 3-byte characters: no whole-character cut falls on a
        // multiple of three bytes, yet no word before the last may carry padding.
        const std::string cjk =
            "R 会議の件について、来週の予定を確認させてください。よろしくお願いします。";
        {
            const auto p = plainValue("CJK.", 0xE4);
            b.page(2).put(3400, p);
            auto& m = add(id(2), 8, cjk, "Zoë <zoe@example.org>");
            setPlain(m, 2, 3400, p);
        }
        m_expect.push_back(
            {cjk, "Zoë", "zoe@example.org", "", true, "CJK.", "text/plain", {}, false, {}});

        // 7: Sent Items: the stored name is the recipient, the owner the sender.
        {
            const auto p = plainValue("Sent text.", 0xE4);
            b.page(4).put(100, p);
            auto& m = add(id(3), 7, "Sent one", "Anna Schmidt <anna@example.org>");
            setPlain(m, 4, 100, p);
        }
        m_expect.push_back({"Sent one",
                            "Иван Петров",
                            "unknown@no-address.invalid",
                            "anna@example.org",
                            true,
                            "Sent text.",
                            "text/plain",
                            {},
                            false,
                            {}});

        b.page(5);
        b.writeTo(m_store.path());
        ASSERT_TRUE(m_catalog.storeFile.Open(m_store.str()));
        m_catalog.storeSize = m_catalog.storeFile.GetLength();
    }

    static std::uint64_t pos(std::size_t page, std::size_t off) {
        return StoreBuilder::offsetOf(page) + off;
    }

    static void setPlain(edb::MessageEntry& m, std::size_t page, std::size_t at,
                         const std::vector<std::uint8_t>& value) {
        m.primaryBody.position = pos(page, at + 6);
        m.primaryBody.size = static_cast<std::uint16_t>(value.size());
        m.primaryBody.valueEnd = pos(page, at + value.size());
    }

    edb::MessageEntry& add(const FolderId& folder, std::uint8_t n, const std::string& subject,
                           const std::string& sender, std::uint64_t filetime = kFiletime) {
        const FolderId mid{0x02, 0, 0, 0, 0, 0, 0x30, n};
        m_catalog.messages.AddMessage(folder, mid, subject, sender, filetime, 0);
        for (edb::MessageEntry& m : m_catalog.messages) {
            if (m.messageId == mid) {
                return m;
            }
        }
        throw std::logic_error("message not added");
    }

    edbtest::TempFile m_store;
    edb::StoreCatalog m_catalog;
    std::vector<Expect> m_expect;
};

TEST_F(ClientViewTest, TwoIndependentReadersSeeWhatTheStoreHolds) {
    edbtest::TempDir out;
    ConvertOptions options;
    options.outDir = out.path() / "export";
    const auto summary = Convert(m_catalog, ListFolders(m_catalog), options);
    EXPECT_EQ(summary.saved, 15U); // seven Inbox messages twice (two records), one sent
    EXPECT_EQ(summary.failed, 0U);

    // The log names every message with a missing part, in both copies of the Inbox, and the
    // folder that repeats the Inbox.
    ASSERT_EQ(summary.logPath, options.outDir / kExportLogName);
    std::ifstream logFile(summary.logPath);
    std::stringstream log;
    log << logFile.rdbuf();
    EXPECT_NE(log.str().find("folder Иван Петров\\Inbox (found again)\\ repeats folder Иван "
                             "Петров\\Inbox\\ (same folder id 0100000000001002)"),
              std::string::npos)
        << log.str();
    EXPECT_NE(log.str().find("Иван Петров/Inbox/Good plain, damaged formatted.eml\tmessage "
                             "0200000000003004\tthe formatted body could not be read "
                             "completely from the store; attachment 'x.doc' could not be read "
                             "from the store\n"),
              std::string::npos)
        << log.str();
    std::size_t lines = 0;
    for (char c : log.str()) {
        lines += c == '\n' ? 1 : 0;
    }
    // The run's heading (four lines), a repeat, a heading and two messages in two folders, and
    // how the run ended.
    EXPECT_EQ(lines, 11U);

    // GMime shows each message as Python does: the shown body, the attachments' names and bytes.
    EXPECT_EQ(edbtest::CheckTreeWithGmime(options.outDir), std::vector<std::string>{});
    const auto read = edbtest::ReadTreeWithGmime(options.outDir);
    for (const Expect& e : m_expect) {
        const auto it = read.find(e.subject);
        ASSERT_NE(it, read.end()) << e.subject;
        const edbtest::GmimeMessage& m = it->second;
        EXPECT_EQ(m.date.has_value(), e.dated) << e.subject;
        const auto* shown = edbtest::FirstOfType(m, e.shownType);
        ASSERT_NE(shown, nullptr) << e.subject;
        EXPECT_NE(edbtest::Lf(shown->body).find(e.shown), std::string::npos)
            << e.subject << ": " << shown->body;
        for (const auto& [name, content] : e.attachments) {
            // (A named copy: a lambda may not capture a structured binding before C++20's fix.)
            const std::string wanted = name;
            const auto found = std::find_if(m.leaves.begin(), m.leaves.end(), [&](const auto& p) {
                return p.filename == wanted && p.name == wanted;
            });
            ASSERT_NE(found, m.leaves.end()) << e.subject << ": " << name;
            EXPECT_EQ(found->body, content) << name;
        }
    }

#if defined(EDB_PYTHON) && defined(EDB_EML_CHECKER)
    const fs::path expect = out.path() / "expected.json";
    std::ofstream(expect, std::ios::binary) << expectJson(m_expect);
    const std::string cmd = std::string("\"") + EDB_PYTHON + "\" \"" + EDB_EML_CHECKER +
                            "\" --clients --reformime \"" + options.outDir.string() + "\" \"" +
                            expect.string() + "\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
#else
    GTEST_SKIP() << "no Python to read the files back";
#endif
}

} // namespace

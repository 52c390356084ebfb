// End to end: a generated store with bodies, long values, attachments, contacts and hostile
// folder names is converted, and every file is read back by an independent parser (Python's
// email package, default policy, and GMime) and compared with what was put in.
#include "convert/convert.h"
#include "mime/eml_writer.h"
#include "deliver/output_names.h"
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
using edb::FolderId;
using edb::kPageSize;
using edbtest::Page;
using edbtest::StoreBuilder;
using namespace edbtest;
namespace fs = std::filesystem;

constexpr std::uint64_t kFiletime = 0x01c2d345fc5db900ULL; // Thu, 13 Feb 2003 09:55:06 +0000

struct Expected {
    std::string subject;
    std::string fromName;
    std::string fromAddress;
    std::string date;
    std::string plain; // text the plain part must contain ("" = no plain part)
    std::string html;  // text the HTML part must contain ("" = no HTML part)
    bool rtf = false;
    bool noted = false; // an X-Edb-Note header is expected
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> attachments;
};

class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override { build(); }

    edb::MessageEntry& add(const FolderId& folder, std::uint8_t msgId, const std::string& subject,
                           const std::string& sender, char kind = 0) {
        const FolderId mid{0x02, 0, 0, 0, 0, 0, 0x20, msgId};
        m_catalog.messages.AddMessage(folder, mid, subject, sender, kFiletime, kind);
        for (edb::MessageEntry& m : m_catalog.messages) {
            if (m.messageId == mid) {
                return m;
            }
        }
        throw std::logic_error("message not added");
    }

    std::uint64_t at(std::size_t page, std::size_t off) {
        return StoreBuilder::offsetOf(page) + off;
    }

    void build() {
        StoreBuilder b;
        b.page(0);
        auto& cat = m_catalog;
        const FolderId none{};
        cat.mailboxList.AddFolder(none, id(1), "Иван Петров", 0);
        cat.folderList.AddFolder(id(1), id(2), "Inbox", 0);
        cat.folderList.AddFolder(id(2), id(3), "../../x", 0);
        cat.folderList.AddFolder(id(1), id(4), "a/b", 0);
        cat.folderList.AddFolder(id(1), id(5), "CON", 0);
        cat.folderList.AddFolder(id(1), id(6), std::string(300, 'L'), 0);
        cat.folderList.AddFolder(id(1), id(7), std::string("ctl\x01\x1b[0m\x7f", 9), 0);
        cat.folderList.AddFolder(id(1), id(8), "Contacts", edb::kKindContact);
        cat.folderList.AddFolder(id(10), id(9), "Loop A", 0); // a damaged parent chain
        cat.folderList.AddFolder(id(9), id(10), "Loop B", 0);

        // Message 1: Cyrillic plain body inline (1251), HTML inside stored RTF, an inline
        // attachment with an accented name.
        const std::string cyr1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!\r\nline two";
        const auto p1 = plainValue(cyr1251, 0xE3);
        b.page(1).put(100, p1);
        const std::string rtf =
            "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}"
            "{\\f1\\fnil\\fcharset204 Times;}}{\\*\\htmltag19 <html>}{\\*\\htmltag34 <body>}"
            "\\htmlrtf {\\htmlrtf0 \\f1 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 caf\\u233?\\htmlrtf}"
            "\\htmlrtf0{\\*\\htmltag35 </body>}{\\*\\htmltag27 </html>}}";
        const auto f1 = storedRtfValue(rtf);
        b.page(1).put(400, f1);
        m_inlineAttachment = bytes("Hallo Welt\nzweite Zeile\n");
        b.page(1).u8(1000, 0x01).put(1001, m_inlineAttachment);
        {
            auto& m = add(id(2), 1, "Привет, мир", "Иван Петров");
            m.primaryBody.position = at(1, 106);
            m.primaryBody.size = static_cast<std::uint16_t>(p1.size());
            m.primaryBody.valueEnd = at(1, 100 + p1.size());
            m.formattedBody.position = at(1, 400);
            m.formattedBody.size = static_cast<std::uint16_t>(f1.size());
            edb::AttachmentEntry a;
            a.name = "Grüße.txt";
            a.position = at(1, 1001);
            a.size = static_cast<std::uint16_t>(m_inlineAttachment.size() + 1);
            m.attachments.push_back(std::move(a));
            m_expected.push_back({"Привет, мир",
                                  "Иван Петров",
                                  "",
                                  "Thu, 13 Feb 2003 09:55:06 +0000",
                                  "Привет, мир!",
                                  "<body>Привет café</body>",
                                  false,
                                  false,
                                  {{"Grüße.txt", m_inlineAttachment}}});
        }

        // Message 2: plain body and attachment as long values, chunks listed out of order;
        // the formatted body is compressed RTF that carries no HTML.
        std::string longText;
        for (int i = 0; i < 150; ++i) {
            longText += "Caf\xE9 cr\xE8me br\xFBl\xE9"
                        "e, ligne " +
                        std::to_string(i) + ".\r\n";
        }
        const auto p2 = plainValue(longText, 0xE4);
        ASSERT_GT(p2.size(), 4014U);
        ASSERT_LT(p2.size(), 8028U);
        putChunk(b.page(3), 42, 0x0301, 0, {p2.begin(), p2.begin() + 4014});
        putChunk(b.page(2), 42, 0x0301, 4014, {p2.begin() + 4014, p2.end()});
        m_longAttachment.resize(6000);
        for (std::size_t i = 0; i < m_longAttachment.size(); ++i) {
            m_longAttachment[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
        }
        putChunk(b.page(5), 42, 0x0302, 4014,
                 {m_longAttachment.begin() + 4014, m_longAttachment.end()});
        putChunk(b.page(4), 42, 0x0302, 0,
                 {m_longAttachment.begin(), m_longAttachment.begin() + 4014});
        const std::vector<std::uint8_t> lzfu = {
            0x00, 0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75,
            0xf1, 0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31,
            0x32, 0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20,
            0x62, 0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0};
        putChunk(b.page(6), 42, 0x0303, 0, lzfu);
        {
            auto& m = add(id(2), 2, "Grüße aus Köln — Café", "José Müller");
            m.primaryBody.size = 5;
            m.primaryBody.reference = 0x0301;
            m.primaryBody.chunks.AddOffset(at(2, 42));
            m.primaryBody.chunks.AddOffset(at(3, 42));
            m.formattedBody.size = 5;
            m.formattedBody.reference = 0x0303;
            m.formattedBody.chunks.AddOffset(at(6, 42));
            edb::AttachmentEntry a;
            a.name = "данные.bin";
            a.size = 5;
            a.reference = 0x0302;
            a.chunks.AddOffset(at(5, 42));
            a.chunks.AddOffset(at(4, 42));
            m.attachments.push_back(std::move(a));
            m_expected.push_back({"Grüße aus Köln — Café",
                                  "José Müller",
                                  "",
                                  "Thu, 13 Feb 2003 09:55:06 +0000",
                                  "Café crème brûlée, ligne 149.",
                                  "",
                                  true,
                                  false,
                                  {{"данные.bin", m_longAttachment}}});
        }

        // Message 3: only headers in the store (the body lived elsewhere).
        add(id(3), 3, "../../x", "");
        m_expected.push_back({"../../x",
                              "Unknown sender",
                              "",
                              "Thu, 13 Feb 2003 09:55:06 +0000",
                              "[Exchange To Eml: the message body is not in the store file]",
                              "",
                              false,
                              true,
                              {}});

        // Message 4: HTML in the N1013-code column, a sender that is an address; text readers
        // get the HTML's visible text beside it.
        const std::string html = "<html><body><p>Grüße aus Köln</p></body></html>";
        b.page(7).put(100, bytes(html));
        {
            auto& m = add(id(4), 4, "CON", "user@example.com");
            m.formattedBody.position = at(7, 100);
            m.formattedBody.size = static_cast<std::uint16_t>(html.size());
            m_expected.push_back({"CON",
                                  "",
                                  "user@example.com",
                                  "Thu, 13 Feb 2003 09:55:06 +0000",
                                  "Grüße aus Köln",
                                  "Grüße aus Köln",
                                  false,
                                  false,
                                  {}});
        }
        // Messages in hostile folders, a contact, a folder in a loop.
        add(id(5), 5, "In CON", "A");
        add(id(6), 6, std::string(300, 's'), "B");
        add(id(7), 7, std::string("bell\x07 and esc\x1b", 14), "C");
        add(id(9), 9, "In a loop", "D");
        {
            auto& m = add(id(8), 8, "Schmidt Anna", "", edb::kKindContact);
            m.contacts.push_back({"Schmidt Anna", "Anna", "Schmidt", "+49 30 1234", "+49 30 5678",
                                  "+49 170 999", "Hauptstraße 1, Berlin", "anna@example.org"});
        }
        b.page(8);

        b.writeTo(m_store.path());
        ASSERT_TRUE(m_catalog.storeFile.Open(m_store.str()));
        m_catalog.storeSize = m_catalog.storeFile.GetLength();
    }

    std::string expectationsJson() const {
        std::string j = "[";
        for (std::size_t i = 0; i < m_expected.size(); ++i) {
            const Expected& e = m_expected[i];
            j += i ? ",\n{" : "{";
            j += "\"subject\":" + jsonString(e.subject) +
                 ",\"from_name\":" + jsonString(e.fromName) +
                 ",\"from_address\":" + jsonString(e.fromAddress) +
                 ",\"date\":" + jsonString(e.date) + ",\"plain\":" + jsonString(e.plain) +
                 ",\"html\":" + jsonString(e.html) + ",\"rtf\":" + (e.rtf ? "true" : "false") +
                 ",\"noted\":" + (e.noted ? "true" : "false") + ",\"attachments\":{";
            for (std::size_t k = 0; k < e.attachments.size(); ++k) {
                j += (k ? "," : "") + jsonString(e.attachments[k].first) + ":" +
                     jsonString(hexOf(e.attachments[k].second));
            }
            j += "}}";
        }
        return j + "]\n";
    }

    edbtest::TempFile m_store;
    edb::StoreCatalog m_catalog;
    std::vector<Expected> m_expected;
    std::vector<std::uint8_t> m_inlineAttachment;
    std::vector<std::uint8_t> m_longAttachment;
};

TEST_F(ConvertTest, FolderPathsFollowParentsAndSurviveLoops) {
    const auto all = ListFolders(m_catalog);
    ASSERT_EQ(all.size(), 9U);
    EXPECT_EQ(all[0].treePath, "Иван Петров\\Inbox\\");
    EXPECT_EQ(all[1].treePath, "Иван Петров\\Inbox\\../../x\\");
    EXPECT_TRUE(all[1].attached);
    EXPECT_FALSE(all[7].attached); // Loop A
    EXPECT_FALSE(all[8].attached);
    EXPECT_EQ(all[7].names.size(), 2U);

    std::vector<std::string> unknown;
    const auto inbox = SelectFolders(all, {"Иван Петров\\Inbox", "Nowhere"}, &unknown);
    ASSERT_EQ(inbox.size(), 2U); // the folder and its subfolder
    EXPECT_EQ(unknown, std::vector<std::string>{"Nowhere"});
    EXPECT_EQ(SelectFolders(all, {"Иван Петров"}, nullptr).size(), 7U);
}

TEST_F(ConvertTest, DateComesFromTheWholeFiletime) {
    EXPECT_EQ(FiletimeToUnix(kFiletime), 1045130106);
    EXPECT_FALSE(FiletimeToUnix(0));
    EXPECT_FALSE(FiletimeToUnix(UINT64_MAX));
    EXPECT_FALSE(FiletimeToUnix(0x0000000100000000ULL));                    // 1601: a placeholder
    EXPECT_EQ(FiletimeToUnix(116444736000000000ULL), 0);                    // 1 Jan 1970
    EXPECT_EQ(FiletimeToUnix(116444736000000000ULL + 41024448000000000ULL), // 1 Jan 2100
              std::nullopt);
    EmlInput in;
    in.filetime = kFiletime;
    const std::string eml = WriteEml(in);
    EXPECT_NE(eml.find("Date: Thu, 13 Feb 2003 09:55:06 +0000\r\n"), std::string::npos) << eml;
    EXPECT_NE(eml.find("MIME-Version: 1.0\r\n"), std::string::npos) << eml;
}

TEST_F(ConvertTest, EverythingWrittenReadsBackThroughAnIndependentParser) {
    edbtest::TempDir out;
    std::vector<ConvertProgress> progress;
    ConvertOptions options;
    options.outDir = out.path() / "export";
    options.progress = [&](const ConvertProgress& p) { progress.push_back(p); };
    const auto summary = Convert(m_catalog, ListFolders(m_catalog), options);

    EXPECT_EQ(summary.saved, 9U);
    EXPECT_EQ(summary.failed, 0U);
    EXPECT_EQ(summary.skipped, 0U);
    EXPECT_EQ(summary.savedFolders.size(), 9U);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().done, 9U);
    EXPECT_EQ(progress.back().total, 9U);

    const fs::path root = options.outDir;
    const fs::path inbox = root / "Иван Петров" / "Inbox";
    EXPECT_TRUE(fs::exists(inbox / "Привет, мир.eml"));
    EXPECT_TRUE(fs::exists(inbox / "_._.._x" / "_._.._x.eml"));
    EXPECT_TRUE(fs::exists(root / "Иван Петров" / "a_b" / "_CON.eml"));
    EXPECT_TRUE(fs::exists(root / "Иван Петров" / "_CON" / "In CON.eml"));
    EXPECT_TRUE(fs::exists(root / "Иван Петров" / "Contacts" / "Schmidt Anna.vcf"));
    EXPECT_TRUE(fs::exists(root / kUnattachedFolderName));
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out.path())) {
        EXPECT_TRUE(IsInside(root, e.path())) << e.path();
        EXPECT_FALSE(fs::is_symlink(e.symlink_status()));
        const std::string name = e.path().filename().string();
        EXPECT_LE(name.size(), 255U);
        for (const char c : name) {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << e.path();
        }
        files += e.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 12U); // nine messages, one contact card, the export log and the manifest

    // The saved-folders list gets tree paths as the folder tree builds them.
    EXPECT_EQ(summary.savedFolders.front().treePath, "Иван Петров\\Inbox\\");

    // Converting again into the same folder finds every message there and writes none.
    const auto again = Convert(m_catalog, ListFolders(m_catalog), options);
    EXPECT_EQ(again.saved, 0U);
    EXPECT_EQ(again.present, 9U);
    EXPECT_EQ(again.failed, 0U);
    EXPECT_FALSE(fs::exists(inbox / "Привет, мир (2).eml"));
    // A second folder gets the same bytes: boundaries come from the message, not from chance.
    ConvertOptions other = options;
    other.outDir = out.path() / "again";
    EXPECT_EQ(Convert(m_catalog, ListFolders(m_catalog), other).saved, 9U);
    const auto bytesOf = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytesOf(inbox / "Привет, мир.eml"),
              bytesOf(other.outDir / "Иван Петров" / "Inbox" / "Привет, мир.eml"));
    fs::remove_all(other.outDir);

    // GMime reads every file as the file delimits it, and each message put in comes back whole.
    EXPECT_EQ(edbtest::CheckTreeWithGmime(root), std::vector<std::string>{});
    const auto read = edbtest::ReadTreeWithGmime(root);
    for (const Expected& e : m_expected) {
        const auto it = read.find(e.subject);
        ASSERT_NE(it, read.end()) << e.subject;
        const edbtest::GmimeMessage& m = it->second;
        const std::string address = e.fromAddress.empty() ? "@no-address.invalid" : e.fromAddress;
        EXPECT_NE(m.from.find(address), std::string::npos) << m.from << " / " << e.fromAddress;
        EXPECT_NE(m.from.find(e.fromName), std::string::npos) << m.from;
        const auto* plain = edbtest::FirstOfType(m, "text/plain");
        const auto* html = edbtest::FirstOfType(m, "text/html");
        EXPECT_TRUE(e.plain.empty() ? plain == nullptr || plain->body.empty()
                                    : plain != nullptr && edbtest::Lf(plain->body).find(e.plain) !=
                                                              std::string::npos)
            << e.subject;
        EXPECT_EQ(html != nullptr && edbtest::Lf(html->body).find(e.html) != std::string::npos,
                  !e.html.empty())
            << e.subject;
        for (const auto& [name, bytes] : e.attachments) {
            // (A named copy: a lambda may not capture a structured binding before C++20's fix.)
            const std::string wanted = name;
            const auto found = std::find_if(m.leaves.begin(), m.leaves.end(), [&](const auto& p) {
                return p.filename == wanted && p.name == wanted;
            });
            ASSERT_NE(found, m.leaves.end()) << e.subject << ": " << name;
            EXPECT_EQ(found->body, std::string(bytes.begin(), bytes.end())) << name;
        }
    }

#if defined(EDB_PYTHON) && defined(EDB_EML_CHECKER)
    const fs::path expect = out.path() / "expected.json";
    std::ofstream(expect, std::ios::binary) << expectationsJson();
    const std::string cmd = std::string("\"") + EDB_PYTHON + "\" \"" + EDB_EML_CHECKER + "\" \"" +
                            root.string() + "\" \"" + expect.string() + "\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
#else
    GTEST_SKIP() << "no Python to read the files back";
#endif
}

TEST_F(ConvertTest, CancelSkipsTheRestAndReportsIt) {
    edbtest::TempDir out;
    std::atomic<bool> cancel{false};
    ConvertOptions options;
    options.outDir = out.path();
    options.cancel = &cancel;
    options.progress = [&](const ConvertProgress& p) {
        if (p.done == 1) {
            cancel = true;
        }
    };
    const auto summary = Convert(m_catalog, ListFolders(m_catalog), options);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.saved, 1U);
    EXPECT_EQ(summary.skipped, 8U);
    EXPECT_TRUE(summary.savedFolders.empty()); // the folder was cut off half way
    EXPECT_EQ(summary.foldersWritten, 1U);     // yet it received a message
}

// A mailbox folder swapped for a link to another place after the first message: nothing is
// written there, and every later message of the mailbox fails with a reason naming the folder.
TEST_F(ConvertTest, AFolderSwappedForALinkMidRunIsNotFollowed) {
    edbtest::TempDir out;
    edbtest::TempDir elsewhere;
    const fs::path box = out.path() / "Иван Петров";
    ConvertOptions options;
    options.outDir = out.path();
    options.progress = [&](const ConvertProgress& p) {
        if (p.done == 1 && !fs::is_symlink(box)) {
            fs::rename(box, out.path() / "moved");
            fs::create_directory_symlink(elsewhere.path(), box);
        }
    };
    const auto summary = Convert(m_catalog, ListFolders(m_catalog), options);
    EXPECT_EQ(summary.saved + summary.failed, 9U);
    EXPECT_GT(summary.failed, 0U);
    ASSERT_FALSE(summary.failures.empty());
    const std::string reason = summary.failures.front().reason;
    EXPECT_NE(reason.find("replaced"), std::string::npos) << reason;
    EXPECT_NE(reason.find("Иван Петров"), std::string::npos) << reason;
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(ConvertTest, AnUnwritableOutputFolderFailsEveryMessage) {
    edbtest::TempDir out;
    std::ofstream(out.path() / "file") << "x";
    ConvertOptions options;
    options.outDir = out.path() / "file" / "below";
    const auto summary = Convert(m_catalog, ListFolders(m_catalog), options);
    EXPECT_EQ(summary.saved, 0U);
    EXPECT_EQ(summary.failed, 9U);
    EXPECT_FALSE(summary.failures.empty());
}

} // namespace

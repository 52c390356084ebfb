// The rules of the PST writer that no reader shows directly: how MAPI splits a subject's
// prefix, the short file names older readers show, text as the file holds it, and a writer
// that cannot write its file.
#include "pst/pst_message.h"
#include "pst/pst_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace edb::pst {
namespace {

TEST(PstWriter, SubjectPrefixIsSplitAsMapiDoes) {
    EXPECT_EQ(SubjectPrefix("RE: lunch"), "RE: ");
    EXPECT_EQ(SubjectPrefix("Fwd: RE: lunch"), "Fwd: ");
    EXPECT_EQ(SubjectPrefix("AW: Angebot"), "AW: ");
    // Not a prefix: no space after the colon, more than three characters, digits, a space
    // inside, nothing after it.
    EXPECT_EQ(SubjectPrefix("RE:lunch"), "");
    EXPECT_EQ(SubjectPrefix("Note: lunch"), "");
    EXPECT_EQ(SubjectPrefix("10: agenda"), "");
    EXPECT_EQ(SubjectPrefix("A B: x"), "");
    EXPECT_EQ(SubjectPrefix("RE: "), "");
    EXPECT_EQ(SubjectPrefix(""), "");
    EXPECT_EQ(SubjectPrefix(":  x"), "");
}

TEST(PstWriter, ShortFileNamesAreEightDotThree) {
    EXPECT_EQ(ShortFileName("report.pdf"), "REPORT.PDF");
    EXPECT_EQ(ShortFileName("Quarterly report 2003.xlsx"), "QUARTE~1.XLS");
    EXPECT_EQ(ShortFileName("Отчёт.doc"), "ATTACH~1.DOC");
    EXPECT_EQ(ShortFileName("noextension"), "NOEXTE~1");
    EXPECT_EQ(ShortFileName(".hidden"), "HIDDEN~1");
}

TEST(PstWriter, TextIsUtf16WithBrokenBytesReplaced) {
    EXPECT_EQ(Utf16("A\xC3\xA9"), (Bytes{'A', 0, 0xE9, 0}));
    // A character beyond the basic plane becomes a surrogate pair.
    EXPECT_EQ(Utf16("\xF0\x9F\x98\x80"), (Bytes{0x3D, 0xD8, 0x00, 0xDE}));
    // A stray continuation byte, a truncated sequence and an overlong form each give U+FFFD.
    EXPECT_EQ(Utf16("\x80"), (Bytes{0xFD, 0xFF}));
    EXPECT_EQ(Utf16("x\xE2\x82"), (Bytes{'x', 0, 0xFD, 0xFF}));
    EXPECT_EQ(Utf16("\xC0\xAF"), (Bytes{0xFD, 0xFF}));
}

TEST(PstWriter, AFileThatCannotBeMadeIsNamedInTheError) {
    const auto path = std::filesystem::temp_directory_path() / "no-such-dir-pst" / "x.pst";
    try {
        PstWriter w(path, "x");
        FAIL() << "no error";
    } catch (const PstError& e) {
        EXPECT_NE(std::string(e.what()).find("x.pst"), std::string::npos) << e.what();
    }
}

std::string Contents(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writers set aside between messages (one PST open at a time during an export of many
// mailboxes) must write exactly what a writer never set aside writes, large bodies included.
TEST(PstWriter, AParkedWriterWritesTheSameFile) {
    const auto dir = std::filesystem::temp_directory_path() / "pst-park-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto fill = [](PstWriter& w, std::uint32_t folder, int i) {
        Message m;
        m.subject = "RE: message " + std::to_string(i);
        m.body = std::string(static_cast<std::size_t>(3000 * i), static_cast<char>('a' + i % 26));
        m.attachments.push_back({"a.bin", Bytes(static_cast<std::size_t>(9000 * i), 7), "", ""});
        w.addMessage(folder, m);
    };
    {
        PstWriter a(dir / "a.pst", "A"), b(dir / "b.pst", "B"), whole(dir / "whole.pst", "A");
        const auto fa = a.addFolder(PstWriter::topFolder(), "Inbox", FolderKind::Mail);
        const auto fb = b.addFolder(PstWriter::topFolder(), "Inbox", FolderKind::Mail);
        const auto fw = whole.addFolder(PstWriter::topFolder(), "Inbox", FolderKind::Mail);
        for (int i = 1; i <= 12; ++i) {
            fill(a, fa, i);
            fill(whole, fw, i);
            a.park();
            fill(b, fb, i);
            b.park();
        }
        a.finish();
        b.finish();
        whole.finish();
    }
    const std::string whole = Contents(dir / "whole.pst");
    EXPECT_GT(whole.size(), 200000u);
    EXPECT_EQ(Contents(dir / "a.pst"), whole);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace edb::pst

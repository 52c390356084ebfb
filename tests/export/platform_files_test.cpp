// What each system does its own way (output files, code pages, dates, names), held to the same
// results on Linux and, under wine, on Windows: an export must give the same tree on both.
#include "charset/charset.h"
#include "mime/mail_date.h"
#include "deliver/output_file.h"
#include "deliver/output_names.h"
#include "tests/support/store_builder.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {
using namespace edb::conv;
namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::u8string name = e.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PlatformFiles, OutputFileNamesOnlyWhenCompleteAndNeverReplaces) {
    edbtest::TempDir dir;
    const fs::path target = dir.path() / Utf8Path("Привет.eml");
    {
        OutputFile file(dir.path());
        file.write("first line\r\n");
        file.write(std::string(200000, 'x')); // more than one write call's buffer
        EXPECT_EQ(file.size(), 12U + 200000U);
        // Nothing but the hidden temporary name while it is written.
        ASSERT_EQ(entries(dir.path()).size(), 1U);
        EXPECT_EQ(entries(dir.path())[0][0], '.');
        file.truncate(10);
        file.write("!\n");
        file.sync();
        file.setTime(1075000000); // 2004-01-25
        ASSERT_TRUE(file.commit(target));
    }
    EXPECT_EQ(readAll(target), "first line!\n");
    const auto mtime = fs::last_write_time(target);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(mtime).time_since_epoch());
    EXPECT_EQ(seconds.count(), 1075000000);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"Привет.eml"});

    // A taken name: commit says no and the file waits under its temporary name for another.
    OutputFile second(dir.path());
    second.write("second");
    EXPECT_FALSE(second.commit(target));
    EXPECT_EQ(readAll(target), "first line!\n");
    ASSERT_TRUE(second.commit(dir.path() / "other.eml"));
    EXPECT_EQ(readAll(dir.path() / "other.eml"), "second");

    // Dropped without a commit: no file is left.
    {
        OutputFile dropped(dir.path());
        dropped.write("gone");
    }
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"other.eml", "Привет.eml"}));
}

TEST(PlatformFiles, ReplaceOnlyTheFileThatWasRead) {
    edbtest::TempDir dir;
    const fs::path mbox = dir.path() / "Inbox.mbox";
    { std::ofstream(mbox, std::ios::binary) << "From a\n\n"; }
    OutputFile::Identity before;
    ASSERT_TRUE(RegularFileIdentity(mbox, before));
    EXPECT_EQ(before.size, 8U);
    std::string head;
    ASSERT_TRUE(ReadFileStart(mbox, 4, head));
    EXPECT_EQ(head, "From");

    OutputFile longer(dir.path());
    longer.write("From a\n\nFrom b\n\n");
    longer.replace(mbox, before);
    EXPECT_EQ(readAll(mbox), "From a\n\nFrom b\n\n");

    // Someone else changed it meanwhile: the extended copy must not overwrite that.
    OutputFile::Identity now;
    ASSERT_TRUE(RegularFileIdentity(mbox, now));
    { std::ofstream(mbox, std::ios::binary | std::ios::app) << "From c\n\n"; }
    OutputFile stale(dir.path());
    stale.write("stale");
    EXPECT_THROW(stale.replace(mbox, now), fs::filesystem_error);
    EXPECT_EQ(readAll(mbox), "From a\n\nFrom b\n\nFrom c\n\n");
    stale.discard();
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"Inbox.mbox"});
}

TEST(PlatformFiles, DirectoriesAndKinds) {
    edbtest::TempDir dir;
    const fs::path sub = dir.path() / Utf8Path("Ünterordner");
    EXPECT_EQ(KindOf(sub), EntryKind::Missing);
    EXPECT_TRUE(MakeNewDirectory(sub));
    EXPECT_FALSE(MakeNewDirectory(sub));
    EXPECT_EQ(KindOf(sub), EntryKind::Directory);
    EnsureDirectory(sub);
    EnsureDirectory(sub / "deeper");
    EXPECT_EQ(KindOf(sub / "deeper"), EntryKind::Directory);
    { std::ofstream(sub / "file", std::ios::binary) << "x"; }
    EXPECT_EQ(KindOf(sub / "file"), EntryKind::Regular);
    EXPECT_THROW(EnsureDirectory(sub / "file"), fs::filesystem_error);
    OutputFile::Identity id;
    EXPECT_FALSE(RegularFileIdentity(sub, id));
    std::string text;
    EXPECT_FALSE(ReadFileStart(sub, 10, text));
    EXPECT_FALSE(ReadFileStart(sub / "missing", 10, text));
    EXPECT_THROW(OutputFile(dir.path() / "missing"), fs::filesystem_error);
}

TEST(PlatformFiles, DeepFoldersPastTheOldPathLimit) {
    // Mailbox, folders and subject at the longest names give paths far past 260 characters.
    edbtest::TempDir dir;
    fs::path deep = dir.path();
    UniqueNamer names;
    for (int level = 0; level < 4; ++level) {
        deep = MakeChildDirectory(deep, std::string(kMaxNameBytes, char('a' + level)), names);
    }
    ASSERT_GT(deep.native().size(), 480U);
    const fs::path file =
        WriteNewFile(deep, std::string(kMaxNameBytes, 'm'), ".eml", "deep", names);
    std::string text;
    ASSERT_TRUE(ReadFileStart(file, 100, text));
    EXPECT_EQ(text, "deep");
    OutputFile::Identity id;
    EXPECT_TRUE(RegularFileIdentity(file, id));
    EXPECT_EQ(id.size, 4U);
    EXPECT_EQ(KindOf(file), EntryKind::Regular);
}

TEST(PlatformFiles, CodePagesConvertAlikeOnBothSystems) {
    EXPECT_EQ(SystemCodePageToUtf8("\x82\xA0", 932), "\xE3\x81\x82"); // Shift-JIS
    EXPECT_EQ(SystemCodePageToUtf8("\xC4\xE3", 936), "\xE4\xBD\xA0"); // GBK
    EXPECT_EQ(SystemCodePageToUtf8("\xB0\xA1", 949), "\xEA\xB0\x80"); // Korean
    EXPECT_EQ(SystemCodePageToUtf8("\xA4\x40", 950), "\xE4\xB8\x80"); // Big5
    EXPECT_EQ(SystemCodePageToUtf8("Gr\xFC\xDF\x80", 1252), "Gr\xC3\xBC\xC3\x9F\xE2\x82\xAC");
    EXPECT_EQ(SystemCodePageToUtf8("\xCF\xF0\xE8", 1251), "\xD0\x9F\xD1\x80\xD0\xB8");
    EXPECT_EQ(SystemCodePageToUtf8("\xE1", 1253), "\xCE\xB1");
    EXPECT_EQ(SystemCodePageToUtf8("\x8A", 10000), "\xC3\xA4"); // Mac Roman
    EXPECT_EQ(SystemCodePageToUtf8(std::string(70000, '\xE1'), 1253)->size(), 140000U);
    EXPECT_EQ(SystemCodePageToUtf8("", 1252), "");
    EXPECT_FALSE(SystemCodePageToUtf8("\x82", 932).has_value());  // cut off in a character
    EXPECT_FALSE(SystemCodePageToUtf8("abc", 77777).has_value()); // no such code page
}

TEST(PlatformFiles, MboxFromLineDates) {
    EXPECT_EQ(FormatMboxDate(0), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(FormatMboxDate(1075000000), "Sun Jan 25 03:06:40 2004");
    EXPECT_EQ(FormatMboxDate(-1), "Wed Dec 31 23:59:59 1969");
    EXPECT_EQ(FormatMboxDate(-11644473600), "Mon Jan  1 00:00:00 1601"); // FILETIME zero
    EXPECT_EQ(FormatMboxDate(253402300799), "Fri Dec 31 23:59:59 9999");
}

TEST(PlatformFiles, NamesWindowsRefusesAreChangedOnEverySystem) {
    for (const char* reserved : {"CON", "con.mbox", "Aux.sbd", "PRN", "nul.txt", "COM1", "lpt9",
                                 "COM\xC2\xB9", "CON .eml"}) {
        EXPECT_EQ(SanitizeName(reserved), "_" + std::string(reserved)) << reserved;
    }
    EXPECT_EQ(SanitizeName("Notes. "), "Notes");
    EXPECT_EQ(SanitizeName("a:b*c?d\"e<f>g|h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(SanitizeName("COMPANY"), "COMPANY");

    // Names a case-insensitive system holds as one get told apart everywhere.
    UniqueNamer namer;
    EXPECT_EQ(namer.next("Über", ".eml"), "Über.eml");
    EXPECT_EQ(namer.next("über", ".EML"), "über (2).EML");
    EXPECT_EQ(namer.next("ПОЧТА", ""), "ПОЧТА");
    EXPECT_EQ(namer.next("почта", ""), "почта (2)");
    EXPECT_EQ(namer.next("Łódź", ""), "Łódź");
    EXPECT_EQ(namer.next("łÓDŹ", ""), "łÓDŹ (2)");
    EXPECT_EQ(namer.next("ß", ""), "ß"); // no single-letter capital: a name of its own
    EXPECT_EQ(namer.next("SS", ""), "SS");

    // And the folders really are apart on disk.
    edbtest::TempDir dir;
    UniqueNamer dirs;
    const fs::path a = MakeChildDirectory(dir.path(), "Ärger", dirs);
    const fs::path b = MakeChildDirectory(dir.path(), "ärger", dirs);
    EXPECT_NE(a, b);
    // A device name would open the device on Windows instead of making a folder.
    const fs::path con = MakeChildDirectory(dir.path(), "CON", dirs);
    EXPECT_EQ(con.filename(), "_CON");
    (void)WriteNewFile(con, SanitizeName("nul"), ".eml", "x", dirs);
    EXPECT_EQ(entries(con), std::vector<std::string>{"_nul.eml"});
    EXPECT_EQ(entries(dir.path()).size(), 3U);
}

} // namespace

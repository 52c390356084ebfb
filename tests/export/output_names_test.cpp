// Store names made into file names, and files written without replacing anything.
#include "deliver/output_names.h"
#include "tests/support/store_builder.h"

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

TEST(OutputNames, HostileNamesBecomeOneHarmlessComponent) {
    const std::string longName(300, 'x');
    const std::string cyrillicLong = [] {
        std::string s;
        for (int i = 0; i < 100; ++i) {
            s += "Ж"; // two bytes each: the cut must not split one
        }
        return s;
    }();
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"../../x", "_._.._x"},
        {"..", "_"},
        {".", "_"},
        {".hidden", "_hidden"},
        {"a/b", "a_b"},
        {"a\\b", "a_b"},
        {"C:evil", "C_evil"},
        {"CON", "_CON"},
        {"con.txt", "_con.txt"},
        {"nul", "_nul"},
        {"COM1", "_COM1"},
        {"LPT9.eml", "_LPT9.eml"},
        {"CONSOLE", "CONSOLE"},
        {"COM10", "COM10"},
        {"name. . ", "name"},
        {"  spaced  ", "spaced"},
        {std::string("tab\there\x01\x7f", 10), "tab_here__"},
        {"new\r\nline", "new__line"},
        {"what?*<>|\"", "what______"},
        {"\xE2\x80\xAEtxt.exe", "_txt.exe"}, // right-to-left override
        {"bad\xFF\xC3utf8", "bad__utf8"},
        {"", "_"},
        {"Привет мир", "Привет мир"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SanitizeName(c.in), c.out) << c.in;
    }
    EXPECT_EQ(SanitizeName(longName).size(), kMaxNameBytes);
    const std::string cut = SanitizeName(cyrillicLong);
    EXPECT_LE(cut.size(), kMaxNameBytes);
    EXPECT_EQ(cut.size() % 2, 0U);
    EXPECT_EQ(SanitizeName("...", "(no subject)"), "(no subject)");
    // Cut to the limit, the dots are trailing ones and go too.
    EXPECT_EQ(SanitizeName(std::string(200, '.') + "x"), "_");
}

TEST(OutputNames, EveryHostileNameStaysInsideTheFolder) {
    edbtest::TempDir dir;
    const fs::path root = dir.path() / "out";
    fs::create_directory(root);
    const std::string names[] = {"../../x",
                                 "..",
                                 "/etc/passwd",
                                 "a/b",
                                 "CON",
                                 std::string(300, 'y'),
                                 std::string("\x01\x02\x1b[31m", 7),
                                 "C:\\Windows",
                                 "~",
                                 ""};
    UniqueNamer dirs;
    UniqueNamer files;
    for (const std::string& n : names) {
        const fs::path d = MakeChildDirectory(root, n, dirs);
        EXPECT_TRUE(IsInside(root, d)) << n;
        EXPECT_EQ(d.parent_path(), root) << n;
        const fs::path f = WriteNewFile(root, SanitizeName(n), ".eml", "x", files);
        EXPECT_EQ(f.parent_path(), root) << n;
    }
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        EXPECT_TRUE(IsInside(root, e.path())) << e.path();
    }
    EXPECT_FALSE(IsInside(root, root / ".." / "x"));
    EXPECT_FALSE(IsInside(root / "a", root / "ab"));
}

TEST(OutputNames, FilesAreNeverReplaced) {
    edbtest::TempDir dir;
    { std::ofstream(dir.path() / "Report.eml") << "earlier"; }
    UniqueNamer namer;
    const fs::path a = WriteNewFile(dir.path(), "Report", ".eml", "first", namer);
    const fs::path b = WriteNewFile(dir.path(), "report", ".eml", "second", namer);
    EXPECT_EQ(readAll(dir.path() / "Report.eml"), "earlier");
    EXPECT_EQ(a.filename(), "Report (2).eml");
    EXPECT_EQ(b.filename(), "report (3).eml"); // names differing only in case count as equal
    EXPECT_EQ(readAll(a), "first");
    EXPECT_EQ(readAll(b), "second");
    // No temporary file is left behind.
    std::size_t count = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
        ++count;
    }
    EXPECT_EQ(count, 3U);
}

TEST(OutputNames, LinksAndFilesInTheWayAreNotEntered) {
    edbtest::TempDir dir;
    edbtest::TempDir elsewhere;
    const fs::path root = dir.path();
    // The Windows build's C++ runtime makes no symbolic links (under wine neither); the file in
    // the way still has to be passed over there.
    std::error_code linkError;
    fs::create_directory_symlink(elsewhere.path(), root / "Inbox", linkError);
    ASSERT_TRUE(!linkError || linkError == std::errc::function_not_supported)
        << linkError.message();
    const bool linked = !linkError;
    std::ofstream(root / "Sent") << "a file";
    UniqueNamer namer;
    const fs::path inbox = MakeChildDirectory(root, "Inbox", namer);
    const fs::path sent = MakeChildDirectory(root, "Sent", namer);
    EXPECT_EQ(inbox.filename(), linked ? "Inbox (2)" : "Inbox");
    EXPECT_EQ(sent.filename(), "Sent (2)");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(inbox)));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // An existing real directory is reused.
    UniqueNamer again;
    EXPECT_EQ(MakeChildDirectory(root, inbox.filename().string(), again), inbox);
}

} // namespace

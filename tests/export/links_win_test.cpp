// Symbolic links on Windows (reparse points): an export never enters, reads or replaces one.
// The POSIX build's counterpart is in output_names_test.cpp and the CLI safety test.
#include "deliver/output_file.h"
#include "deliver/output_names.h"
#include "tests/support/store_builder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <windows.h>

namespace {
using namespace edb::conv;
namespace fs = std::filesystem;

bool makeLink(const fs::path& link, const fs::path& target, bool directory) {
    const DWORD flags = (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    // wine answers yes and makes nothing: the link has to be there afterwards.
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) != 0 &&
           GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(WindowsLinks, NeverEnteredReadOrReplaced) {
    edbtest::TempDir dir;
    edbtest::TempDir elsewhere;
    const fs::path victim = elsewhere.path() / "victim.txt";
    { std::ofstream(victim, std::ios::binary) << "keep me"; }
    if (!makeLink(dir.path() / "Inbox", elsewhere.path(), true) ||
        !makeLink(dir.path() / "Note.eml", victim, false)) {
        GTEST_SKIP() << "this system makes no symbolic links for us (error " << GetLastError()
                     << ")";
    }
    EXPECT_EQ(KindOf(dir.path() / "Inbox"), EntryKind::Other);
    EXPECT_EQ(KindOf(dir.path() / "Note.eml"), EntryKind::Other);
    EXPECT_THROW(EnsureDirectory(dir.path() / "Inbox"), fs::filesystem_error);

    UniqueNamer dirs;
    const fs::path inbox = MakeChildDirectory(dir.path(), "Inbox", dirs);
    EXPECT_EQ(inbox.filename(), "Inbox (2)");

    UniqueNamer files;
    const fs::path note = WriteNewFile(dir.path(), "Note", ".eml", "new", files);
    EXPECT_EQ(note.filename(), "Note (2).eml");
    EXPECT_EQ(readAll(victim), "keep me");

    std::string text;
    EXPECT_FALSE(ReadFileStart(dir.path() / "Note.eml", 100, text));
    OutputFile::Identity id;
    EXPECT_FALSE(RegularFileIdentity(dir.path() / "Note.eml", id));
    EXPECT_EQ(fs::directory_iterator(elsewhere.path())->path().filename(), "victim.txt");
}

} // namespace

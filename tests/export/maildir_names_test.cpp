// Maildir++ folder names: what servers refuse is replaced, and long names and deep paths are
// cut to fit with stable hashes, without breaking a character or the folder hierarchy.
#include "deliver/maildir_names.h"

#include <climits>
#include <gtest/gtest.h>

namespace {
using namespace edb::conv;

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

// Every '&' opens a run of modified base64 closed by '-', and nothing else leaves ASCII.
bool wellFormedUtf7(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c > 0x7e) {
            return false;
        }
        if (c != '&') {
            continue;
        }
        const auto end = s.find('-', i);
        if (end == std::string_view::npos) {
            return false;
        }
        const std::size_t chars = end - i - 1;
        // Whole UTF-16 units, padded with fewer than 6 bits.
        if (chars != 0 && (chars * 6) % 16 >= 6) {
            return false;
        }
        i = end;
    }
    return true;
}

TEST(MaildirNames, LevelsServersRefuseGetPlainReplacements) {
    const struct {
        std::string in;
        bool top;
        std::string out;
    } cases[] = {
        {"a.b/c\\d", false, "a_b_c_d"}, // separators, on disk and on the server
        {"~", true, "_"},               // a home directory to the server
        {"~x~", false, "_x~"},
        {".hidden", false, "_hidden"},
        {"100%*", false, "100__"}, // IMAP wildcards
        {"tab\there\x01", false, "tab_here_"},
        {"  ", false, "_"},
        {"", true, "_"},
        {"Inbox", true, "Inbox_"}, // not the mailbox's own Inbox, which is "INBOX"
        {"iNbOx", true, "iNbOx_"},
        {"Inbox", false, "Inbox"}, // below the top it is an ordinary name
        {"INBOX.", true, "INBOX_"},
        {"Проекты", true, "Проекты"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MaildirLevelName(c.in, c.top), c.out) << c.in;
    }
}

TEST(MaildirNames, DirectoryNamesAreModifiedUtf7AndFitTheirRoom) {
    EXPECT_EQ(MaildirDirectoryName({"INBOX", "Проекты", "R&D"}, 255),
              ".INBOX.&BB8EQAQ+BDUEOgRCBEs-.R&-D");

    // One long level: cut on a character boundary, ending in a stable hash of the whole name;
    // names that differ only past the cut stay apart.
    const std::string longName = repeat("Ж", 200);
    const std::string cut = MaildirDirectoryName({longName}, 255);
    EXPECT_LE(cut.size(), 1 + kMaildirLevelBytes);
    EXPECT_TRUE(wellFormedUtf7(cut)) << cut;
    EXPECT_EQ(cut, MaildirDirectoryName({longName}, 255));
    EXPECT_NE(cut, MaildirDirectoryName({longName + "!"}, 255));
    EXPECT_EQ(cut.substr(cut.size() - 7, 1), "_");
    // A child keeps its parent's name in front of its own, so servers show the hierarchy.
    EXPECT_EQ(MaildirDirectoryName({longName, "x"}, 255), cut + ".x");

    // Too deep to nest whole: the ancestors that fit, then the folder's own name cut.
    std::vector<std::string> deep = {"INBOX"};
    for (char c = 'A'; c < 'G'; ++c) {
        deep.push_back(std::string(90, c));
    }
    const std::string deepName = MaildirDirectoryName(deep, 255);
    EXPECT_LE(deepName.size(), 255U);
    EXPECT_EQ(
        deepName.rfind(".INBOX." + std::string(90, 'A') + "." + std::string(90, 'B') + ".", 0), 0U)
        << deepName;
    EXPECT_NE(deepName.find("FFFF"), std::string::npos);
    std::vector<std::string> other = deep;
    other[3] = std::string(90, 'c'); // differs only in a level the cut drops
    EXPECT_NE(MaildirDirectoryName(other, 255), deepName);

    // Less room below a deep output folder: shorter names, and none where nothing fits.
    const std::size_t room = MaildirNameRoom(PATH_MAX - 280);
    EXPECT_GT(room, 16U);
    EXPECT_LT(room, 255U);
    const std::string tight = MaildirDirectoryName(deep, room);
    EXPECT_LE(tight.size(), room);
    EXPECT_TRUE(wellFormedUtf7(tight)) << tight;
    EXPECT_EQ(MaildirNameRoom(10), 255U);
    EXPECT_EQ(MaildirNameRoom(PATH_MAX - 100), 0U);
    EXPECT_EQ(MaildirDirectoryName(deep, 10), "");
}

TEST(MaildirNames, HostPartKeepsMessageFileNamesShort) {
    EXPECT_EQ(MaildirHostPart("mail/host:1,2"), "mail_host_1_2");
    EXPECT_EQ(MaildirHostPart(std::string(250, 'h')).size(), 64U);
    EXPECT_EQ(MaildirHostPart(""), "localhost");
}

} // namespace

// Mailbox names for the upload: every store folder gets its own, and an address never shows
// its password.
#include "deliver/imap_destination.h"
#include "imap/imap_url.h"

#include <gtest/gtest.h>

using namespace edb::conv;

namespace {

using Names = std::vector<std::string>;

Names place(MailboxNamer& namer, const Names& prefix, const Names& names) {
    return namer.unique(names, MailboxLevels(prefix, names, '/'), prefix.size());
}

} // namespace

TEST(ImapNames, FoldersWhoseNamesCleanUpAlikeGetTheirOwnMailboxes) {
    MailboxNamer namer;
    const Names r{"Restored"};
    EXPECT_EQ(place(namer, r, {"Ann", "Inbox", "tab\there"}),
              (Names{"Restored", "Ann", "Inbox", "tab_here"}));
    EXPECT_EQ(place(namer, r, {"Ann", "Inbox", "tab_here"}),
              (Names{"Restored", "Ann", "Inbox", "tab_here (2)"}));
    // Below each, its own subfolders; asked again, each folder keeps its name.
    EXPECT_EQ(place(namer, r, {"Ann", "Inbox", "tab_here", "x/y"}),
              (Names{"Restored", "Ann", "Inbox", "tab_here (2)", "x_y"}));
    EXPECT_EQ(place(namer, r, {"Ann", "Inbox", "tab_here", "x_y"}),
              (Names{"Restored", "Ann", "Inbox", "tab_here (2)", "x_y (2)"}));
    EXPECT_EQ(place(namer, r, {"Ann", "Inbox", "tab\there"}),
              (Names{"Restored", "Ann", "Inbox", "tab_here"}));
    // A name that a clean-up made and one that comes with " (2)" of its own stay apart.
    EXPECT_EQ(place(namer, r, {"Ann", "Inbox", "tab_here (2)"}),
              (Names{"Restored", "Ann", "Inbox", "tab_here (2) (2)"}));
    // Names differing in case are different mailboxes below the top.
    EXPECT_EQ(place(namer, r, {"Ann", "INBOX"}), (Names{"Restored", "Ann", "INBOX"}));
    EXPECT_EQ(place(namer, r, {"Ann", "inbox"}), (Names{"Restored", "Ann", "inbox"}));
    // At the top every INBOX is the one INBOX, in any case; and the top of another mailbox
    // is free to use names the first one used below it.
    MailboxNamer top;
    EXPECT_EQ(place(top, {}, {"Inbox", "Sub"}), (Names{"Inbox", "Sub"}));
    EXPECT_EQ(place(top, {}, {"INBOX"}), (Names{"INBOX (2)"}));
    // Only INBOX itself is the same in every case: "INBOX (2)" and "inBox (2)" are two.
    EXPECT_EQ(place(top, {}, {"inBox", "Sub"}), (Names{"inBox (2)", "Sub"}));
    EXPECT_EQ(place(top, {}, {"Sub"}), (Names{"Sub"}));
    EXPECT_EQ(place(top, {}, {"Inboxes"}), (Names{"Inboxes"}));
}

TEST(ImapNames, APasswordInTheAddressIsRefusedAndNeverShown) {
    for (const char* url : {"imap://ann:secret@h/R", "imaps://ann:s%40c@[::1]:993/",
                            "imap://ann:se/cret@h/R", "imap://ann:p@ss@h/R", "imap://:x@h/"}) {
        EXPECT_THROW((void)ParseImapUrl(url), std::invalid_argument) << url;
        const std::string shown = ImapUrlForDisplay(url);
        EXPECT_EQ(shown.find("ann:"), std::string::npos) << shown;
        EXPECT_EQ(shown.find(":x"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("cret"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("ss@"), std::string::npos) << shown;
    }
    EXPECT_EQ(ImapUrlForDisplay("imap://ann:secret@h:143/R"), "imap://ann@h:143/R");
    // A port, an IPv6 host or a folder with a colon is no password.
    for (const char* url : {"imap://ann@h:143/R", "imaps://a@[::1]:993/", "imap://a@h/x:y@z"}) {
        EXPECT_EQ(ImapUrlForDisplay(url), url);
        EXPECT_NO_THROW((void)ParseImapUrl(url)) << url;
    }
}

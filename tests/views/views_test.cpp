// The rules every front end shows, each with one home: folder icons and the Sent Items folder,
// list headings and widths, row kinds, sort keys, enabled commands, progress and the texts.
#include "frontend/folder_roles.h"
#include "frontend/unreadable_texts.h"
#include "views/controls.h"
#include "views/folder_items.h"
#include "views/message_list.h"
#include "views/progress.h"
#include "views/texts.h"

#include "scan/scan.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cerrno>
#include <iterator>
#include <memory>

namespace {

using namespace edb::views;

int imageOf(const char* name, char kind) {
    return FolderImageIndex(TreeItemIcon(name, kind, 0));
}

TEST(FolderIcons, NamesInAnyLetterCaseAndKindsGiveTheImages) {
    EXPECT_EQ(imageOf("iNbOx", 0), 7);
    EXPECT_EQ(imageOf("Inbox2", 0), 0);
    EXPECT_EQ(imageOf("CONTACTS", 'a'), 3); // an appointment folder is a calendar first
    EXPECT_EQ(imageOf("Calendar", 'c'), 3);
    EXPECT_EQ(imageOf("Anything", 'c'), 4);
    EXPECT_EQ(imageOf("Deleted Items", 0), 5);
    EXPECT_EQ(imageOf("Drafts", 0), 6);
    EXPECT_EQ(imageOf("Journal", 0), 8);
    EXPECT_EQ(imageOf("junk e-mails", 0), 9);
    EXPECT_EQ(imageOf("Notes", 0), 10);
    EXPECT_EQ(imageOf("Outbox", 0), 11);
    EXPECT_EQ(imageOf("Sent Items", 0), 12);
    EXPECT_EQ(imageOf("Tasks", 0), 13);
    EXPECT_EQ(imageOf("Sync Issues", 0), 14);
    EXPECT_EQ(imageOf("Sent  Items", 0), 0);
    EXPECT_EQ(imageOf("Tasks ", 0), 0);
    // A mailbox root is a mailbox whatever it is called.
    EXPECT_EQ(TreeItemIcon("Inbox", 0, edb::kNoFolder), FolderIcon::Mailbox);
    EXPECT_EQ(FolderImageIndex(FolderIcon::Mailbox), 0);
    EXPECT_LT(FolderImageIndex(FolderIcon::SyncIssues), static_cast<int>(kFolderImageCount));
}

// One rule for the folder whose stored names are recipients: its icon, its column heading and
// (through IsSentItems) the sender Convert writes agree for every spelling.
TEST(SentItems, IconColumnAndSenderAgreeInAnyLetterCase) {
    auto catalog = std::make_unique<edb::StoreCatalog>();
    const char* names[] = {"Sent Items", "sent items", "SENT ITEMS", "Sent Item", "Sent-Items"};
    std::uint8_t n = 1;
    for (const char* name : names) {
        catalog->folderList.AddFolder(edb::FolderId{9}, edb::FolderId{n++}, name, 0);
    }
    std::size_t i = 0;
    for (const edb::FolderNode& f : catalog->folderList) {
        const bool sent = i++ < 3;
        EXPECT_EQ(edb::IsSentItems(f.name), sent) << f.name;
        EXPECT_EQ(TreeItemIcon(f.name, 0, 0) == FolderIcon::SentItems, sent) << f.name;
        EXPECT_EQ(ListColumnsFor(f)[1].heading, sent ? "To" : "From") << f.name;
    }
}

TEST(ListColumns, BeforeAListingTheSubjectHeadingNamesWhatComes) {
    const auto initial = InitialMessageColumns();
    const auto inbox = [] {
        const edb::FolderNode f(edb::FolderId{2}, edb::FolderId{1}, "Inbox", 0);
        return ListColumnsFor(f);
    }();
    ASSERT_EQ(initial.size(), inbox.size());
    EXPECT_EQ(initial[2].heading, "E-mail Subject");
    EXPECT_EQ(inbox[2].heading, "Subject");
    // Same widths and sorting either way, so the columns do not jump when a folder is listed.
    for (std::size_t c = 0; c < initial.size(); ++c) {
        EXPECT_EQ(initial[c].width, inbox[c].width);
        EXPECT_EQ(initial[c].sort, inbox[c].sort);
    }
    EXPECT_EQ(MailboxListColumns().front().heading, "User Mailbox Name");
    EXPECT_EQ(MailboxListColumns().front().width, 640);
}

TEST(RowKinds, NamedKindsKeepTheirImagesAndWords) {
    edb::MessageEntry m;
    m.kind = 'a';
    EXPECT_EQ(RowKindOf(m), RowKind::Appointment);
    m.kind = 'c';
    EXPECT_EQ(RowKindOf(m), RowKind::Contact);
    m.kind = 0;
    EXPECT_EQ(RowKindOf(m), RowKind::Mail);
    m.attachments.emplace_back();
    EXPECT_EQ(RowKindOf(m), RowKind::MailWithAttachments);
    EXPECT_EQ(RowImageIndex(RowKind::Appointment), 0);
    EXPECT_EQ(RowImageIndex(RowKind::Contact), 1);
    EXPECT_EQ(RowImageIndex(RowKind::MailWithAttachments), 16);
    EXPECT_EQ(RowImageIndex(RowKind::Mail), 12);
    EXPECT_STREQ(RowKindText(RowKind::MailWithAttachments), "mail, attached files");
}

// Dates sort by time wherever the date column is (the contact layout's is the tenth), numbers
// as numbers, texts by their folded form; a row without the cell has no key.
TEST(SortKeys, DatesByTimeNumbersAsNumbersWhereverTheColumnIs) {
    const edb::FolderNode contacts(edb::FolderId{2}, edb::FolderId{1}, "Contacts", 'c');
    const auto columns = ListColumnsFor(contacts);
    ListRow full;
    full.number = 10;
    full.filetime = 5;
    full.cells.assign(columns.size(), "x");
    ListRow bare; // a contact without its fields: only the number
    bare.number = 9;
    bare.filetime = 7;
    bare.cells = {"9"};
    const std::size_t date = columns.size() - 1;
    EXPECT_EQ(SortKey(full, columns, 0), 10u);
    EXPECT_EQ(SortKey(full, columns, date), 5u);
    EXPECT_EQ(SortKey(full, columns, 1), std::nullopt);
    EXPECT_EQ(SortKey(bare, columns, date), std::nullopt);
    EXPECT_EQ(SortKey(full, columns, columns.size()), std::nullopt);
    const auto find = FindResultColumns();
    EXPECT_EQ(find.back().sort, SortBy::Time);
    // "9" before "10" as numbers; "Fri ..." against "Mon ..." by time, not by text.
    EXPECT_TRUE(CellLess(9, "9", 10, "10"));
    EXPECT_TRUE(CellLess(100, "mon", 200, "fri"));
    EXPECT_TRUE(CellLess(std::nullopt, "", 1, "x"));
    EXPECT_FALSE(CellLess(1, "x", std::nullopt, ""));
    EXPECT_TRUE(CellLess(std::nullopt, "apple", std::nullopt, "banana"));
}

TEST(ScanProgress, TheWindowsStageBarAndTheOneWeightedBarFollowTheSameStages) {
    ScanProgress p;
    EXPECT_EQ(ScanProgress::stagePercent(-5), 0);
    EXPECT_EQ(ScanProgress::stagePercent(250), 100);
    EXPECT_EQ(p.overallPercent(0), 0);
    EXPECT_EQ(p.overallPercent(100), 54); // the first pass is the largest share
    int last = 0;
    for (const char* stage : edb::kScanStages) {
        for (int pos = 0; pos <= 100; pos += 25) {
            const int now = p.overallPercent(pos);
            EXPECT_GE(now, last) << stage << " " << pos;
            last = now;
        }
        EXPECT_TRUE(p.stageFinished(stage));
    }
    EXPECT_EQ(p.overallPercent(0), 100);
    EXPECT_FALSE(p.stageFinished("first-pass")); // passed already
    EXPECT_FALSE(p.stageFinished("no-such-stage"));
    ScanProgress skipped; // a skipped stage leaves its share behind
    EXPECT_TRUE(skipped.stageFinished(edb::kScanStages[2]));
    EXPECT_EQ(skipped.stagesDone(), 3);
    EXPECT_EQ(WorkPercent(0, 0), 100);
    EXPECT_EQ(WorkPercent(1, 3), 33);
    EXPECT_EQ(WorkPercent(5, 3), 100);
}

TEST(ControlStates, EachStepOfARunEnablesWhatTheWindowsShow) {
    using edb::session::ScanEnd;
    edb::session::Session s;
    ControlStates c = ControlStatesOf(s);
    EXPECT_TRUE(c.browse);
    EXPECT_FALSE(c.stop || c.next || c.convert || c.nextUserMailbox || c.backUserMailbox);
    ASSERT_TRUE(s.openStore("/a.edb"));
    c = ControlStatesOf(s);
    EXPECT_FALSE(c.browse);
    EXPECT_TRUE(c.stop);
    EXPECT_FALSE(c.next); // nothing picked
    s.pickMailbox(0);
    EXPECT_TRUE(ControlStatesOf(s).next);
    ASSERT_EQ(s.next(), edb::session::NextOutcome::Added);
    c = ControlStatesOf(s);
    EXPECT_FALSE(c.next); // the picked one is in
    EXPECT_TRUE(c.convert);
    s.pickMailbox(1);
    ASSERT_EQ(s.next(), edb::session::NextOutcome::Added);
    c = ControlStatesOf(s);
    EXPECT_TRUE(c.backUserMailbox);
    EXPECT_FALSE(c.nextUserMailbox);
    // While a tree is on its way the steps wait.
    auto token = std::make_shared<edb::CancelToken>();
    s.startTask(edb::session::Task::TreeBuild, token, false);
    EXPECT_FALSE(ControlStatesOf(s).backUserMailbox);
    s.finishTask(edb::session::Task::TreeBuild, token);
    s.scanEnded(ScanEnd::Complete);
    EXPECT_TRUE(ControlStatesOf(s).stop); // stays, as the users know it
    EXPECT_FALSE(ControlStatesOf(s).save);

    edb::session::Session failed;
    ASSERT_TRUE(failed.openStore("/b.edb"));
    failed.scanEnded(ScanEnd::Failed);
    EXPECT_FALSE(ControlStatesOf(failed).stop);
    EXPECT_FALSE(ControlStatesOf(failed).browse);
    edb::session::Session none;
    ASSERT_TRUE(none.openStore("/c.edb"));
    none.scanEnded(ScanEnd::NoMailbox);
    EXPECT_TRUE(ControlStatesOf(none).browse);
    EXPECT_FALSE(ControlStatesOf(none).stop);
}

TEST(ListActivation, EnterAndDoubleClickDoWhatTheRowIsFor) {
    EXPECT_EQ(ActivateAction(ListKind::Mailboxes, true), ListAction::Next);
    EXPECT_EQ(ActivateAction(ListKind::Folders, true), ListAction::ListFolder);
    EXPECT_EQ(ActivateAction(ListKind::Messages, true), ListAction::ViewMessage);
    EXPECT_EQ(ActivateAction(ListKind::FindResults, true), ListAction::ViewMessage);
    EXPECT_EQ(ActivateAction(ListKind::Messages, false), ListAction::None);
}

TEST(Texts, CountsFindStatusAndTheConvertSummary) {
    EXPECT_EQ(MessageCountText(1), "1 message");
    EXPECT_EQ(MessageCountText(0), "0 messages");
    EXPECT_EQ(FindStatusText(true, 0), "Searching...");
    EXPECT_EQ(FindStatusText(true, 3), "Searching... 3 found");
    EXPECT_EQ(FindStatusText(false, 3), "3 message(s) found");
    EXPECT_EQ(ConvertProgressText(true, "Ann\\Inbox", 2, 5), "Uploading Ann\\Inbox (2 of 5)");
    ConvertTally t;
    t.place = "/out";
    t.saved = 4;
    t.foldersWritten = 2;
    EXPECT_EQ(ConvertSummaryText(t), "4 message(s) saved in 2 folder(s) under /out.");
    t.logFailed = true;
    t.logFailure = "disk full";
    for (int i = 1; i <= 10; ++i) {
        t.logText += "line " + std::to_string(i) + "\n\n"; // empty lines are not counted
    }
    t.failed = 1;
    t.firstFailure = "no room";
    t.cancelled = true;
    t.skipped = 3;
    const std::string text = ConvertSummaryText(t);
    EXPECT_NE(text.find("\nThe export log could not be written: disk full\nIt says:\nline 1\n"),
              std::string::npos);
    EXPECT_NE(text.find("line 8\n... and 2 more line(s)"), std::string::npos);
    EXPECT_EQ(text.find("line 9"), std::string::npos);
    EXPECT_NE(text.find("\n1 message(s) could not be saved. First: no room"), std::string::npos);
    EXPECT_NE(text.find("\nCancelled: 3 message(s) not saved."), std::string::npos);
    // The status bar after a scan: nothing when all was read, else the ranges in the words
    // edb2eml prints them.
    EXPECT_EQ(ScanStatusText({}), "");
    const std::vector<edb::UnreadableRange> lost{{8192, 4096, EIO}};
    EXPECT_EQ(ScanStatusText(lost), "Read incompletely: " + edb::UnreadableSummaryText(lost));
    EXPECT_NE(ScanStatusText(lost).find("1 range (4096 bytes)"), std::string::npos);
}

} // namespace

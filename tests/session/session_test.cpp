// The session's rules, without a window: what each phase and running task allows, how mailboxes
// are added, where folders were converted, and how running tasks are cancelled.
#include "session/session.h"

#include <gtest/gtest.h>

namespace {

using edb::CancelToken;
using edb::StopReason;
using namespace edb::session;

Session scannedSession() {
    Session s;
    EXPECT_TRUE(s.openStore("/stores/a.edb"));
    s.scanEnded(ScanEnd::Complete);
    return s;
}

TEST(SessionPhases, OneStorePerRunWhileItShowsMailboxes) {
    Session s;
    EXPECT_TRUE(s.allowed(Command::Open));
    EXPECT_FALSE(s.allowed(Command::Next));
    EXPECT_FALSE(s.allowed(Command::Convert));
    ASSERT_TRUE(s.openStore("/stores/a.edb"));
    EXPECT_EQ(s.phase(), Phase::Scanning);
    EXPECT_TRUE(s.allowed(Command::Stop));
    EXPECT_TRUE(s.allowed(Command::Next)); // mailboxes are usable while the scan goes on
    EXPECT_FALSE(s.allowed(Command::Open));
    EXPECT_FALSE(s.openStore("/stores/b.edb"));
    EXPECT_EQ(s.storePath(), "/stores/a.edb");
    s.scanEnded(ScanEnd::Complete);
    EXPECT_FALSE(s.allowed(Command::Stop));
    EXPECT_FALSE(s.allowed(Command::Open));
    EXPECT_TRUE(s.allowed(Command::Convert));
    EXPECT_TRUE(s.allowed(Command::Exit));
}

TEST(SessionPhases, AFileWithoutMailboxLeavesTheWayOpenToAnother) {
    for (const ScanEnd end : {ScanEnd::NoMailbox, ScanEnd::OpenFailed}) {
        Session s;
        ASSERT_TRUE(s.openStore("/stores/text.txt"));
        s.scanEnded(end);
        EXPECT_TRUE(s.allowed(Command::Open));
        EXPECT_FALSE(s.allowed(Command::Stop));
        EXPECT_FALSE(s.allowed(Command::Next));
        ASSERT_TRUE(s.openStore("/stores/demo.edb"));
        EXPECT_EQ(s.phase(), Phase::Scanning);
    }
}

TEST(SessionPhases, AStoppedOrFailedScanKeepsWhatItFound) {
    Session stopped;
    ASSERT_TRUE(stopped.openStore("a"));
    stopped.scanEnded(ScanEnd::Stopped);
    Session failed;
    ASSERT_TRUE(failed.openStore("a"));
    failed.scanEnded(ScanEnd::Failed);
    for (const Session* s : {&stopped, &failed}) {
        EXPECT_TRUE(s->allowed(Command::Next));
        EXPECT_TRUE(s->allowed(Command::ListFolder));
        EXPECT_TRUE(s->allowed(Command::Convert));
        EXPECT_FALSE(s->allowed(Command::Stop));
        EXPECT_FALSE(s->allowed(Command::Open));
    }
}

TEST(SessionPhases, RunningTasksNarrowWhatIsAllowed) {
    Session s = scannedSession();
    s.pickMailbox(0);
    ASSERT_EQ(s.next(), NextOutcome::Added);
    s.pickMailbox(1);
    ASSERT_EQ(s.next(), NextOutcome::Added);
    auto build = std::make_shared<CancelToken>();
    s.startTask(Task::TreeBuild, build);
    EXPECT_FALSE(s.allowed(Command::BackUserMailbox));
    EXPECT_FALSE(s.backUserMailbox());
    EXPECT_EQ(s.step(), 2);
    EXPECT_TRUE(s.allowed(Command::ListFolder));
    s.finishTask(Task::TreeBuild, build);
    EXPECT_TRUE(s.backUserMailbox());

    auto convert = std::make_shared<CancelToken>();
    s.startTask(Task::Convert, convert);
    EXPECT_FALSE(s.allowed(Command::Convert)); // one conversion at a time
    EXPECT_FALSE(s.allowed(Command::Next));
    EXPECT_TRUE(s.allowed(Command::Find));
    EXPECT_TRUE(s.allowed(Command::Exit));
    s.finishTask(Task::Convert, convert);
    EXPECT_TRUE(s.allowed(Command::Convert));
}

TEST(SessionMailboxes, AClickPicksAndNextAddsOnce) {
    Session s = scannedSession();
    EXPECT_EQ(s.next(), NextOutcome::NothingChosen); // "Please Select Any Mailbox"
    // A, B, A: clicking around locks nothing out.
    s.pickMailbox(0);
    s.pickMailbox(1);
    s.pickMailbox(0);
    EXPECT_TRUE(s.canAddPicked());
    EXPECT_EQ(s.next(), NextOutcome::Added);
    EXPECT_EQ(s.chosenMailboxes(), std::vector<std::size_t>{0});
    EXPECT_FALSE(s.canAddPicked());
    EXPECT_EQ(s.next(), NextOutcome::AlreadyAdded);
    s.pickMailbox(1);
    EXPECT_TRUE(s.canAddPicked());
    EXPECT_EQ(s.next(), NextOutcome::Added);
    s.pickMailbox(0);
    EXPECT_FALSE(s.canAddPicked());
    EXPECT_EQ(s.chosenMailboxes(), (std::vector<std::size_t>{0, 1}));
    s.pickMailbox(std::nullopt);
    EXPECT_EQ(s.next(), NextOutcome::AlreadyAdded);
}

TEST(SessionMailboxes, StepsWalkTheChosenMailboxesOnly) {
    Session s = scannedSession();
    EXPECT_FALSE(s.mailboxAtStep(1));
    for (std::size_t m : {4u, 2u, 7u}) {
        s.pickMailbox(m);
        ASSERT_EQ(s.next(), NextOutcome::Added);
    }
    EXPECT_EQ(s.step(), 3);
    EXPECT_EQ(s.mailboxAtStep(s.step()), 7u);
    EXPECT_FALSE(s.nextUserMailbox()); // nothing past the last one
    EXPECT_TRUE(s.backUserMailbox());
    EXPECT_TRUE(s.backUserMailbox());
    EXPECT_EQ(s.mailboxAtStep(s.step()), 4u);
    EXPECT_FALSE(s.backUserMailbox());
    EXPECT_EQ(s.step(), 1);
    EXPECT_TRUE(s.nextUserMailbox());
    EXPECT_EQ(s.mailboxAtStep(s.step()), 2u);
}

TEST(SessionMailboxes, AnotherFileForgetsTheLastOnesChoices) {
    Session s;
    ASSERT_TRUE(s.openStore("a"));
    s.pickMailbox(0);
    ASSERT_EQ(s.next(), NextOutcome::Added);
    s.setTicked(3, true);
    s.markConverted(3, "eml:/out");
    s.scanEnded(ScanEnd::NoMailbox);
    ASSERT_TRUE(s.openStore("b"));
    EXPECT_TRUE(s.chosenMailboxes().empty());
    EXPECT_EQ(s.step(), 0);
    EXPECT_FALSE(s.pickedMailbox());
    EXPECT_TRUE(s.ticked().empty());
    EXPECT_FALSE(s.isConverted(3));
}

TEST(SessionFolders, ConversionsAreKeptPerDestination) {
    Session s = scannedSession();
    s.setTicked(std::vector<std::size_t>{1, 2, 5});
    s.setTicked(2, false);
    EXPECT_EQ(s.ticked(), (std::set<std::size_t>{1, 5}));
    s.markConverted(1, "eml:/out");
    s.markConverted(5, "eml:/out");
    EXPECT_TRUE(s.isConverted(1));
    EXPECT_FALSE(s.isConverted(2));
    // Another destination includes them; the same one names them, once each.
    EXPECT_TRUE(s.alreadyConverted({1, 5}, "mbox:/out").empty());
    EXPECT_EQ(s.alreadyConverted({1, 2, 5, 1}, "eml:/out"), (std::vector<std::size_t>{1, 5}));
    s.markConverted(1, "mbox:/out");
    EXPECT_TRUE(s.convertedTo(1, "mbox:/out"));
    EXPECT_FALSE(s.convertedTo(5, "mbox:/out"));
}

TEST(SessionTasks, ANewTaskSupersedesTheOldOneOfItsKind) {
    Session s = scannedSession();
    auto first = std::make_shared<CancelToken>();
    auto second = std::make_shared<CancelToken>();
    s.startTask(Task::Listing, first);
    s.startTask(Task::Listing, second);
    EXPECT_TRUE(first->cancelled());
    EXPECT_EQ(first->reason(), StopReason::Superseded);
    EXPECT_FALSE(second->cancelled());
    s.finishTask(Task::Listing, first); // a superseded task's late end changes nothing
    EXPECT_TRUE(s.running(Task::Listing));
    s.finishTask(Task::Listing, second);
    EXPECT_FALSE(s.running(Task::Listing));

    // Trees go on beside each other: each Next adds its own.
    s.startTask(Task::TreeBuild, first, false);
    s.startTask(Task::TreeBuild, second, false);
    s.finishTask(Task::TreeBuild, first);
    EXPECT_TRUE(s.running(Task::TreeBuild));
    EXPECT_EQ(s.token(Task::TreeBuild), second);
    s.finishTask(Task::TreeBuild, second);
    EXPECT_FALSE(s.running(Task::TreeBuild));
}

TEST(SessionTasks, OneShutdownCancelsEveryRunningTask) {
    Session s;
    ASSERT_TRUE(s.openStore("a"));
    std::vector<std::shared_ptr<CancelToken>> tokens;
    for (const Task t : {Task::Scan, Task::TreeBuild, Task::Listing, Task::Convert, Task::Find}) {
        tokens.push_back(std::make_shared<CancelToken>());
        s.startTask(t, tokens.back());
    }
    s.stopScan();
    EXPECT_EQ(tokens[0]->reason(), StopReason::User);
    s.cancelAll(StopReason::Shutdown);
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        EXPECT_EQ(tokens[i]->reason(), StopReason::Shutdown) << i;
    }
    EXPECT_EQ(tokens[0]->reason(), StopReason::User); // the first reason stays
}

} // namespace

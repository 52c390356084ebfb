// The tick rules of the folder tree, as the session keeps them for every window.
#include "session/session.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace edb::session;

// Mailbox 1 with Inbox 2 (Sub 3, Sub 4) and Sent 5; folders are item + 100.
Session treeSession() {
    Session s;
    EXPECT_TRUE(s.openStore("/a.edb"));
    s.scanEnded(ScanEnd::Complete);
    EXPECT_TRUE(s.addTreeItem(1, 0, kNoFolderIndex));
    for (const auto& [item, parent] : {std::pair<ItemId, ItemId>{2, 1}, {3, 2}, {4, 2}, {5, 1}}) {
        EXPECT_TRUE(s.addTreeItem(item, parent, item + 100));
    }
    return s;
}

// "t" ticked, "b" marked (bold), "-" neither, for items 1..5.
std::string states(const Session& s) {
    std::string out;
    for (ItemId i = 1; i <= 5; ++i) {
        out += s.tree().ticked(i) ? 't' : '-';
        out += s.tree().marked(i) ? 'b' : '-';
        out += ' ';
    }
    return out;
}

TEST(FolderTicks, TickingTicksTheSubtreeAndParentsWhenAllChildrenAre) {
    Session s = treeSession();
    EXPECT_EQ(s.toggleTick(2).size(), 4u); // 2, 3, 4 and the root's mark
    EXPECT_EQ(states(s), "-b tb tb tb -- ");
    EXPECT_EQ(s.ticked(), (std::set<std::size_t>{102, 103, 104}));
    s.toggleTick(5);
    EXPECT_EQ(states(s), "tb tb tb tb tb ");
    // Unticking one leaf unticks its ancestors; they stay bold while something below is.
    s.toggleTick(3);
    EXPECT_EQ(states(s), "-b -b -- tb tb ");
    EXPECT_EQ(s.ticked(), (std::set<std::size_t>{104, 105}));
    s.toggleTick(4);
    s.toggleTick(5);
    EXPECT_EQ(states(s), "-- -- -- -- -- "); // the marks clear up to the root
    EXPECT_TRUE(s.ticked().empty());
}

TEST(FolderTicks, UnknownItemsAndForbiddenTicksChangeNothing) {
    Session s = treeSession();
    EXPECT_FALSE(s.addTreeItem(6, 99, 106)); // parent not in the tree
    EXPECT_FALSE(s.addTreeItem(3, 1, 103));  // already there
    EXPECT_FALSE(s.addTreeItem(0, 1, 100));
    EXPECT_TRUE(s.toggleTick(42).empty());
    auto token = std::make_shared<edb::CancelToken>();
    s.startTask(Task::Convert, token); // Convert holds the ticks
    EXPECT_TRUE(s.toggleTick(2).empty());
    s.finishTask(Task::Convert, token);
    s.toggleTick(1);
    EXPECT_EQ(s.tree().tickedFolders(), (std::vector<std::size_t>{102, 103, 104, 105}));
    s.clearTree(); // Back rebuilds the tree unticked
    EXPECT_TRUE(s.ticked().empty());
    EXPECT_FALSE(s.tree().contains(1));
}

// Convert's folders lose their ticks one by one; what was not written stays ticked, and the
// ancestors follow as after a click.
TEST(FolderTicks, ConvertedFoldersLoseTheirTicksAndTheAncestorsFollow) {
    Session s = treeSession();
    s.toggleTick(1);
    s.markConverted(103, "eml:/out");
    s.markConverted(105, "mbox:/other");
    const std::vector<ItemId> changed = s.untickConverted("eml:/out");
    EXPECT_EQ(states(s), "-b -b -- tb tb ");
    EXPECT_EQ(changed.size(), 3u); // 3, then its parent and the root
    EXPECT_EQ(s.ticked(), (std::set<std::size_t>{104, 105}));
    EXPECT_TRUE(s.untickConverted("eml:/out").empty());
}

} // namespace

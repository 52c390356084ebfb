#include "catalog/tree_build.h"
#include "io/text.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using edb::FolderId;
using edb::TreeItem;

FolderId id(std::uint8_t n) {
    return FolderId{n, 0, 0, 0, 0, 0, 0, 1};
}

// Records the items in insertion order; item k (1-based) is the k-th inserted.
struct RecordingSink : edb::TreeSink {
    struct Item {
        TreeItem parent;
        std::string text;
        char kind;
        std::string path;
        std::size_t folder;
    };
    std::vector<Item> items;
    std::size_t refuseFrom = SIZE_MAX; // items from this index on are refused (0 returned)

    TreeItem insertItem(TreeItem parent, const std::string& text, char kind,
                        const std::string& path, std::size_t folder) override {
        if (items.size() >= refuseFrom) {
            return 0;
        }
        items.push_back(Item{parent, text, kind, path, folder});
        return items.size();
    }
    // "text(child,child)" rendering of the subtree below `parent`.
    std::string shape(TreeItem parent = 0) const {
        std::string out;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].parent != parent) {
                continue;
            }
            if (!out.empty()) {
                out += ',';
            }
            out += items[i].text;
            const std::string below = shape(i + 1);
            if (!below.empty()) {
                out += '(' + below + ')';
            }
        }
        return out;
    }
};

struct Store {
    std::unique_ptr<edb::StoreCatalog> catalog = std::make_unique<edb::StoreCatalog>();
    void mailbox(std::uint8_t n, const std::string& name) {
        catalog->mailboxList.AddFolder(FolderId{}, id(n), name, 0);
    }
    void folder(std::uint8_t parent, std::uint8_t n, const std::string& name, char kind = 0) {
        catalog->folderList.AddFolder(id(parent), id(n), name, kind);
    }
    // The tree of mailbox-list row `row`.
    edb::TreeBuildResult build(edb::TreeSink& sink, std::size_t row = 0) {
        const edb::FolderNode* mailbox = edb::MailboxAt(*catalog, row);
        EXPECT_NE(mailbox, nullptr);
        return mailbox == nullptr ? edb::TreeBuildResult{}
                                  : edb::BuildFolderTree(*catalog, *mailbox, sink);
    }
};

TEST(BuildFolderTree, MailboxRootNestedFoldersAndTheFolderEachItemShows) {
    Store s;
    s.mailbox(1, "INBOX");
    s.folder(1, 2, "Top");
    s.folder(2, 3, "Inbox");
    s.folder(1, 4, "Calendar", 'a');
    s.folder(9, 5, "Orphan");
    s.folder(2, 6, "Later");
    RecordingSink sink;
    const auto r = s.build(sink);
    EXPECT_EQ(sink.shape(), "INBOX(Top(Inbox,Later),Calendar)");
    // The build hands over each folder's kind; what it looks like is the front ends' business.
    EXPECT_EQ(sink.items[0].kind, 0);
    EXPECT_EQ(sink.items[2].kind, 0);
    EXPECT_EQ(sink.items[4].kind, 'a');
    EXPECT_EQ(sink.items[2].path, "INBOX\\Top\\Inbox\\");
    EXPECT_EQ(r.root, 1u);
    EXPECT_EQ(r.items, 5u);
    // The build hands out folder-list places; the catalog keeps no item.
    std::vector<std::size_t> folders;
    for (const auto& item : sink.items) {
        folders.push_back(item.folder);
    }
    EXPECT_EQ(folders, (std::vector<std::size_t>{edb::kNoFolder, 0, 1, 4, 2}));
}

TEST(BuildFolderTree, MailboxAtPicksTheRowAsTheListShowsIt) {
    Store s;
    s.mailbox(1, "A");
    s.mailbox(2, "B");
    s.folder(2, 3, "Bfolder");
    RecordingSink first;
    s.build(first, 0);
    EXPECT_EQ(first.shape(), "A");
    RecordingSink second;
    s.build(second, 1);
    EXPECT_EQ(second.shape(), "B(Bfolder)");
    EXPECT_EQ(second.items[1].folder, 0u);
    EXPECT_EQ(edb::MailboxAt(*s.catalog, 2), nullptr);
}

TEST(BuildFolderTree, EntriesSharingAnIdEachGetTheirOwnChildren) {
    Store s;
    s.mailbox(1, "M");
    s.folder(1, 2, "First");
    s.folder(1, 2, "Second");
    s.folder(2, 3, "Child");
    RecordingSink sink;
    s.build(sink);
    EXPECT_EQ(sink.shape(), "M(First(Child),Second(Child))");
    // Both items show the one Child entry.
    EXPECT_EQ(sink.items[2].folder, 2u);
    EXPECT_EQ(sink.items[4].folder, 2u);
}

TEST(BuildFolderTree, CyclesInParentChainsEnd) {
    Store s;
    s.mailbox(1, "M");
    s.folder(1, 2, "A");
    s.folder(2, 3, "B");
    s.folder(3, 2, "A again"); // id 2 again, under B: A's children would repeat forever
    s.folder(4, 4, "Self");    // its own parent, not reached from M
    s.folder(1, 5, "C");
    s.folder(5, 5, "C self"); // id 5 under id 5
    s.folder(1, 1, "M twin"); // the mailbox's own id under the mailbox
    RecordingSink sink;
    const auto r = s.build(sink);
    EXPECT_EQ(sink.shape(), "M(A(B(A again)),C(C self),M twin)");
    EXPECT_FALSE(r.itemLimitReached);
}

TEST(BuildFolderTree, DeepPathsStopAtTheirRoom) {
    Store s;
    s.mailbox(1, "M");
    const std::string name(100, 'x');
    for (std::uint8_t d = 0; d < 5; ++d) {
        s.folder(static_cast<std::uint8_t>(d + 1), static_cast<std::uint8_t>(d + 2), name);
    }
    const std::string full3 = "M\\" + name + "\\" + name + "\\";
    const std::string cut = full3 + std::string(edb::kFolderPathRoom - full3.size(), 'x');
    RecordingSink sink;
    const auto r = s.build(sink);
    ASSERT_EQ(sink.items.size(), 6u); // every folder is still shown
    EXPECT_TRUE(r.pathCut);
    EXPECT_EQ(sink.items[2].path, full3);
    for (const auto& item : sink.items) {
        EXPECT_LE(item.path.size(), edb::kFolderPathRoom);
    }
    EXPECT_EQ(sink.items[3].path, cut);
    EXPECT_EQ(sink.items[5].path, sink.items[3].path);
}

TEST(AppendPathPart, CutsOnCharacterBoundariesCountingUtf16Units) {
    std::string path(edb::kFolderPathRoom - 3, 'p');
    EXPECT_FALSE(edb::AppendPathPart(path, "a\xF0\x9F\x98\x80"
                                           "b")); // a, U+1F600 (2 units), b
    EXPECT_EQ(path, std::string(edb::kFolderPathRoom - 3, 'p') + "a\xF0\x9F\x98\x80");
    std::string fits(edb::kFolderPathRoom - 3, 'p');
    EXPECT_TRUE(edb::AppendPathPart(fits, "\xC3\xA9\xC3\xA9")); // two units and the backslash
    EXPECT_EQ(edb::Utf16Length(fits), edb::kFolderPathRoom);
    EXPECT_EQ(fits.back(), '\\');
}

TEST(BuildFolderTree, RefusedItemsHideTheirChildrenAndLimitsStopDuplicates) {
    Store s;
    s.mailbox(1, "M");
    s.folder(1, 2, "A");
    s.folder(2, 3, "B");
    s.folder(1, 4, "C");
    RecordingSink sink;
    sink.refuseFrom = 1; // the root goes in, A is refused
    const auto r = s.build(sink);
    EXPECT_EQ(sink.shape(), "M");
    EXPECT_EQ(r.items, 1u);

    // 2 entries per id, each the child of the previous id: 2^depth copies without a limit.
    Store big;
    big.mailbox(1, "M");
    for (std::uint8_t d = 1; d < 40; ++d) {
        big.folder(d, static_cast<std::uint8_t>(d + 1), "a");
        big.folder(d, static_cast<std::uint8_t>(d + 1), "b");
    }
    RecordingSink many;
    const auto rb = big.build(many);
    EXPECT_TRUE(rb.itemLimitReached);
    EXPECT_EQ(many.items.size(), edb::kMaxTreeItems);
}

TEST(BuildFolderTree, FoldersAppendedDuringTheBuildAreShownWhenTheirParentIsStillOpen) {
    Store s;
    s.mailbox(1, "M");
    s.folder(1, 2, "A");
    struct GrowingSink : RecordingSink {
        edb::StoreCatalog* catalog = nullptr;
        TreeItem insertItem(TreeItem parent, const std::string& text, char kind,
                            const std::string& path, std::size_t folder) override {
            if (text == "A") { // the scan appends while the build runs
                catalog->folderList.AddFolder(id(2), id(3), "A child", 0);
                catalog->folderList.AddFolder(id(1), id(4), "B", 0);
            }
            return RecordingSink::insertItem(parent, text, kind, path, folder);
        }
    } sink;
    sink.catalog = s.catalog.get();
    s.build(sink);
    EXPECT_EQ(sink.shape(), "M(A(A child),B)");
}

} // namespace

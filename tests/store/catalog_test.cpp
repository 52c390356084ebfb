#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "catalog/catalog.h"

using namespace edb;

namespace {
FolderId id(std::uint8_t n) {
    return FolderId{0x01, 0x00, 0, 0, 0, 0, 0, n};
}
} // namespace

TEST(Catalog, AddFolderRejectsEmptyNameZeroIdAndExactDuplicates) {
    FolderList list;
    EXPECT_FALSE(list.AddFolder(FolderId{}, id(1), "", 0));
    EXPECT_FALSE(list.AddFolder(FolderId{}, FolderId{}, "Inbox", 0));
    EXPECT_TRUE(list.AddFolder(id(1), id(2), "Inbox", 0));
    EXPECT_FALSE(list.AddFolder(id(1), id(2), "Inbox", 'c'));
    EXPECT_TRUE(list.AddFolder(id(1), id(2), "INBOX", 0)); // letter case counts
    EXPECT_TRUE(list.AddFolder(id(3), id(2), "Inbox", 0)); // other parent
    ASSERT_EQ(list.size(), 3u);
    std::vector<std::string> names;
    for (const auto& f : list) {
        names.push_back(f.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "INBOX", "Inbox"}));
}

TEST(Catalog, PageAndOffsetListsKeepFirstInsertionOrder) {
    PageList pages;
    EXPECT_TRUE(pages.AddPage(8, 4096));
    EXPECT_TRUE(pages.AddPage(19, 4096)); // same offset, other owner
    EXPECT_FALSE(pages.AddPage(8, 4096));
    EXPECT_EQ(pages.size(), 2u);

    OffsetList offsets;
    for (std::uint64_t v = 100; v > 0; --v) {
        EXPECT_TRUE(offsets.AddOffset(v * 7));
    }
    EXPECT_FALSE(offsets.AddOffset(7));   // present, found through the index
    EXPECT_FALSE(offsets.AddOffset(700));
    EXPECT_EQ(offsets.values().front(), 700u);
    EXPECT_EQ(offsets.values().back(), 7u);

    LongValueKeyList keys;
    EXPECT_TRUE(keys.AddKey(5));
    EXPECT_FALSE(keys.AddKey(5));
    EXPECT_TRUE(keys.AddKey(6));
    ASSERT_NE(keys.find(6), nullptr);
    EXPECT_EQ(keys.keys().size(), 2u);
}

TEST(Catalog, AddMessageRefreshesTheTimeOfAnExactDuplicate) {
    MessageList list;
    EXPECT_TRUE(list.AddMessage(id(1), id(9), "Hello", "Ann", 100, 0));
    EXPECT_FALSE(list.AddMessage(id(1), id(9), "Hello", "Bob", 200, 0));
    EXPECT_TRUE(list.AddMessage(id(1), id(9), "hello", "Ann", 300, 0));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.begin()->filetime, 200u);
    EXPECT_EQ(list.begin()->sender, "Ann");
    ASSERT_NE(list.byMessageId(id(9)), nullptr);
    EXPECT_EQ(list.byMessageId(id(9))->size(), 2u);
}

// A reader walking the list while the writer appends sees only whole entries.
TEST(Catalog, ReadersWalkWhileTheScanAppends) {
    FolderList list;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::size_t seen = 0;
        while (!done.load()) {
            std::size_t n = 0;
            for (const auto& f : list) {
                ASSERT_FALSE(f.name.empty());
                ASSERT_EQ(f.name, "Folder " + std::to_string(f.id[7] + 256 * f.id[6]));
                ++n;
            }
            ASSERT_GE(n, seen);
            seen = n;
        }
    });
    for (int i = 0; i < 5000; ++i) {
        FolderId fid{0x01, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(i >> 8),
                     static_cast<std::uint8_t>(i)};
        list.AddFolder(id(1), fid, "Folder " + std::to_string(i), 0);
    }
    done = true;
    reader.join();
    EXPECT_EQ(list.size(), 5000u);
}

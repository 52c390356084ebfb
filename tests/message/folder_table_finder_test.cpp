// The indexed folder-table search against the plain reading — every folder still without a
// table tried on every owner-2 page — on generated stores: the same tables, in the same order,
// with the same pages, and the same folders left without one.
#include "decode/contents_tables.h"
#include "scan/discovery.h"
#include "scan/scan.h"
#include "tests/support/bench_store.h"
#include "tests/support/demo_store.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unordered_map>

using namespace edb;
using namespace edbtest;

namespace {

struct QuietHost : ScanHost {
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>&) override {}
};

std::uint32_t u32At(const ByteView& p, std::int64_t at) {
    return p.readU32Le(at).value_or(0);
}

// The plain reading of one owner-2 page.
void plainFindFolderTables(StoreCatalog& catalog, const ByteView& page) {
    const auto n = static_cast<std::int64_t>(page.size());
    for (FolderNode& folder : catalog.folderList) {
        if (folder.tableFound.load()) {
            continue;
        }
        const std::string name = ContentsTableName(folder.id);
        for (std::int64_t i = 0; i < n; ++i) {
            if (page.byteOr0(i) != 0x80 || page.byteOr0(i + 4) != 0x2D || i + 4 >= n) {
                continue;
            }
            const std::int64_t c = i + 3;
            const auto length = page.u8(c - 4);
            if (!length || page.byteOr0(c - 3) != 0x80 || !page.inside(c, *length) ||
                std::string_view(reinterpret_cast<const char*>(page.data()) + c, *length) != name) {
                continue;
            }
            const std::uint32_t objectId = u32At(page, c - 34);
            if (objectId == 0 || !page.readU32Le(c - 34)) {
                continue;
            }
            const std::uint32_t root = u32At(page, c - 24);
            OffsetList working;
            const std::uint64_t rootOffset = (std::uint64_t{root} + 1) * kPageSize;
            if (rootOffset < catalog.storeSize) {
                std::uint8_t head[28] = {};
                const std::size_t got =
                    ReadPage(catalog.storeFile, catalog.storeSize, rootOffset, head, sizeof head);
                if (u32At(ByteView(head, got), 24) == objectId) {
                    CollectTablePages(catalog, objectId, (std::uint64_t{root} + 1) * 8, working);
                }
            }
            folder.tableFound.store(true);
            catalog.folderTables.AddFolderTable(folder.id, objectId, folder.kind,
                                                std::move(working));
            break;
        }
    }
}

struct Found {
    std::vector<FolderTable> tables; // pages copied as plain vectors below
    std::vector<std::vector<std::uint64_t>> pages;
    std::vector<bool> tableFound;
    std::vector<std::size_t> countAfterPage;
};

// Scans up to the late stages, then finds the folder tables page by page, plainly or indexed.
// The store file is opened exclusively, so the two readings run one after the other.
Found findTables(const std::string& path, bool indexed) {
    StoreCatalog cat;
    QuietHost host;
    EXPECT_TRUE(cat.storeFile.Open(path));
    cat.storeSize = cat.storeFile.GetLength();
    ScanContext ctx{cat, host, nullptr};
    RunFirstPass(ctx);
    RunMailboxPass(ctx);
    RunFolderDiscovery(ctx);
    Found out;
    std::vector<std::uint8_t> buf(kPageSize);
    FolderTableFinder finder(cat);
    for (const PageEntry& e : cat.pageList.entries()) {
        if (e.owner != 2) {
            continue;
        }
        const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, e.offset, buf.data());
        const ByteView page(buf.data(), n);
        if (indexed) {
            finder.FindFolderTables(page);
        } else {
            plainFindFolderTables(cat, page);
        }
        out.countAfterPage.push_back(cat.folderTables.entries().size());
    }
    for (const FolderTable& t : cat.folderTables.entries()) {
        out.tables.push_back(FolderTable{t.folderId, t.tableObjectId, t.kind, {}});
        out.pages.push_back(t.pages.values());
    }
    for (const FolderNode& f : cat.folderList) {
        out.tableFound.push_back(f.tableFound.load());
    }
    return out;
}

void compareOn(const std::string& path) {
    const Found a = findTables(path, false);
    const Found b = findTables(path, true);
    EXPECT_FALSE(a.countAfterPage.empty());
    EXPECT_FALSE(a.tables.empty());
    EXPECT_EQ(a.countAfterPage, b.countAfterPage);
    ASSERT_EQ(a.tables.size(), b.tables.size());
    for (std::size_t i = 0; i < a.tables.size(); ++i) {
        EXPECT_EQ(a.tables[i].folderId, b.tables[i].folderId) << i;
        EXPECT_EQ(a.tables[i].tableObjectId, b.tables[i].tableObjectId) << i;
        EXPECT_EQ(a.tables[i].kind, b.tables[i].kind) << i;
    }
    EXPECT_EQ(a.pages, b.pages);
    EXPECT_EQ(a.tableFound, b.tableFound);
}

TEST(FolderTableFinder, SameTablesAsThePlainReadingOnGeneratedStores) {
    for (const std::uint64_t seed : {1, 2, 5}) {
        TempFile file;
        {
            std::ofstream out(file.path(), std::ios::binary);
            writeBenchStore(out, BenchStoreOptions{seed, 2ULL << 20, 600});
        }
        SCOPED_TRACE(seed);
        compareOn(file.str());
    }
    TempFile demo;
    StoreBuilder b;
    buildDemoStore(b, DemoOptions{3, 4});
    b.writeTo(demo.path());
    compareOn(demo.str());
}

} // namespace

// The parts of the store file and the scratch files that each system does its own way: names
// outside any one code page, refusals, positional reads from many threads beside the handle's
// own position, and scratch files that leave nothing behind.
#include "io/file64.h"
#include "io/temp_file.h"
#include "scan/spill_files.h"
#include "tests/support/store_builder.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace edb;
using edbtest::TempDir;

namespace {

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 12));
    }
    return b;
}

void write(const std::filesystem::path& p, const std::vector<std::uint8_t>& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

} // namespace

TEST(StoreFileNames, NameOutsideEveryAnsiCodePageOpensAndIsReportedAsGiven) {
    TempDir dir;
    const std::string name = "Po\xC5\xA1tov\xC3\xA1 \xE4\xBF\xA1\xE7\xAE\xB1 \xE2\x9C\x89.edb";
    const std::filesystem::path path =
        dir.path() / std::filesystem::path(std::u8string(name.begin(), name.end()));
    const auto bytes = pattern(3 * kPageSize);
    write(path, bytes);
    const std::u8string u8 = path.u8string();
    const std::string utf8(u8.begin(), u8.end());

    CFile64 file;
    ASSERT_TRUE(file.Open(utf8));
    EXPECT_EQ(file.GetLength(), bytes.size());
    std::vector<std::uint8_t> page(kPageSize);
    ASSERT_EQ(ReadPage(file, bytes.size(), kPageSize, page.data()), kPageSize);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + kPageSize));

    CFile64 second;
    FileErrorRecord err;
    EXPECT_FALSE(second.Open(utf8, &err));
    EXPECT_EQ(err.code, EBUSY);
    EXPECT_EQ(err.fileName, utf8);
    EXPECT_EQ(err.reason(), "another edb2eml or the window has this store open");
}

TEST(StoreFileNames, DirectoryAndMissingFileAreRefusedWithTheirReasons) {
    TempDir dir;
    const std::u8string u8 = dir.path().u8string();
    CFile64 file;
    FileErrorRecord err;
    EXPECT_FALSE(file.Open(std::string(u8.begin(), u8.end()), &err));
    EXPECT_EQ(err.code, kNotRegularFile);
    EXPECT_EQ(err.reason(), "not a regular file");

    const std::u8string missing = (dir.path() / "gone.edb").u8string();
    EXPECT_FALSE(file.Open(std::string(missing.begin(), missing.end()), &err));
    EXPECT_EQ(err.code, ENOENT);
    EXPECT_EQ(err.reason(), "No such file or directory");
    EXPECT_FALSE(file.isOpen());
}

TEST(StoreFileReads, ThreadsReadingAtOffsetsLeaveTheHandlesPositionAlone) {
    TempDir dir;
    const auto bytes = pattern(64 * kPageSize + 77);
    write(dir.path() / "s.edb", bytes);
    CFile64 file;
    const std::u8string u8 = (dir.path() / "s.edb").u8string();
    ASSERT_TRUE(file.Open(std::string(u8.begin(), u8.end())));
    ASSERT_EQ(file.Seek(100, CFile64::begin), 100u);

    std::vector<int> wrong(4, 0);
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            std::vector<std::uint8_t> buf(3 * kPageSize);
            for (std::size_t round = 0; round < 200; ++round) {
                const std::uint64_t at = ((round * 7 + static_cast<std::size_t>(t) * 13) % 64) *
                                             kPageSize + static_cast<std::uint64_t>(t);
                const std::size_t got = file.ReadAt(at, buf.data(), buf.size());
                const std::size_t want = std::min<std::size_t>(buf.size(), bytes.size() - at);
                if (got != want || !std::equal(buf.begin(), buf.begin() + static_cast<long>(got),
                                               bytes.begin() + static_cast<long>(at))) {
                    ++wrong[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (auto& r : readers) {
        r.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    // The last page is short: a read past the end returns what there is.
    std::vector<std::uint8_t> tail(kPageSize);
    EXPECT_EQ(file.ReadAt(64 * kPageSize, tail.data(), tail.size()), 77u);

    char four[4];
    EXPECT_EQ(file.GetPosition(), 100u);
    EXPECT_EQ(file.Read(four, 4), 4u);
    EXPECT_EQ(std::memcmp(four, bytes.data() + 100, 4), 0);
    EXPECT_EQ(file.GetPosition(), 104u);
}

TEST(ScratchFiles, PrivateNamesReadBackAndNothingIsLeftBehind) {
    std::string firstPath;
    {
        PrivateTempFile a("edb-test-");
        PrivateTempFile b("edb-test-");
        ASSERT_TRUE(a.ok() && b.ok());
        EXPECT_NE(a.path(), b.path());
        firstPath = a.path();
        const std::u8string u8(firstPath.begin(), firstPath.end());
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(u8)));
        const char text[] = "line one\nline two\r\n\x1A binary";
        ASSERT_EQ(std::fwrite(text, 1, sizeof text, a.file()), sizeof text);
        a.removeName();
        EXPECT_TRUE(a.path().empty());
        // The bytes come back as written (binary: no newline or end-of-file translation).
        std::rewind(a.file());
        char back[sizeof text] = {};
        ASSERT_EQ(std::fread(back, 1, sizeof back, a.file()), sizeof back);
        EXPECT_EQ(std::memcmp(back, text, sizeof text), 0);
    }
    const std::u8string u8(firstPath.begin(), firstPath.end());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(u8)));
}

TEST(ScratchFiles, OffsetListReportsItsSizeAndReadsBackInOrder) {
    ChunkOffsetList list;
    ASSERT_TRUE(list.ok());
    for (std::uint64_t i = 0; i < 5000; ++i) {
        list.append((i << 33) + i);
    }
    EXPECT_EQ(list.rewindForReading(), 5000u * ChunkOffsetList::kEntryBytes);
    std::uint64_t offset = 0;
    for (std::uint64_t i = 0; i < 5000; ++i) {
        ASSERT_TRUE(list.next(offset));
        ASSERT_EQ(offset, (i << 33) + i);
    }
    EXPECT_FALSE(list.next(offset));
}

TEST(StoreFileNames, NameCanBeRemovedWhileHeldAndTheOpenFileStillReads) {
    TempDir dir;
    const auto bytes = pattern(2 * kPageSize);
    const std::filesystem::path path = dir.path() / "held.edb";
    write(path, bytes);
    const std::u8string u8 = path.u8string();
    CFile64 file;
    ASSERT_TRUE(file.Open(std::string(u8.begin(), u8.end())));
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::remove(path, ec)) << ec.message();
    std::vector<std::uint8_t> page(kPageSize);
    ASSERT_EQ(ReadPage(file, bytes.size(), kPageSize, page.data()), kPageSize);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + kPageSize));
}

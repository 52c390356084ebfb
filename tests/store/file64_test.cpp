#include <cerrno>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "io/file64.h"
#include "tests/support/store_builder.h"

using namespace edb;
using edbtest::TempFile;

namespace {
void writeBytes(const TempFile& f, std::size_t n, std::uint8_t fill = 0xAB) {
    std::ofstream out(f.path(), std::ios::binary);
    std::vector<char> b(n, static_cast<char>(fill));
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
}
} // namespace

TEST(CFile64, PagesOfExactAndRaggedSizes) {
    for (const std::size_t size : {std::size_t{3 * 4096}, std::size_t{3 * 4096 + 100}}) {
        TempFile f;
        writeBytes(f, size);
        CFile64 file;
        ASSERT_TRUE(file.Open(f.str()));
        const std::uint64_t len = file.GetLength();
        EXPECT_EQ(len, size);
        std::vector<std::uint8_t> buf(kPageSize);
        std::vector<std::size_t> lengths;
        for (std::uint64_t o = 0; o < len; o += kPageSize) {
            lengths.push_back(ReadPage(file, len, o, buf.data()));
        }
        if (size % 4096 == 0) {
            EXPECT_EQ(lengths, (std::vector<std::size_t>{4096, 4096, 4096}));
        } else {
            EXPECT_EQ(lengths, (std::vector<std::size_t>{4096, 4096, 4096, 100}));
        }
    }
}

TEST(CFile64, ReadsPastFourGiB) {
    TempFile f;
    const std::uint64_t at = (std::uint64_t{1} << 32) + 4096 * 3;
    {
        std::ofstream out(f.path(), std::ios::binary);
        out.seekp(static_cast<std::streamoff>(at));
        out.write("EDB!", 4);
    }
    CFile64 file;
    ASSERT_TRUE(file.Open(f.str()));
    EXPECT_EQ(file.GetLength(), at + 4);
    char buf[4] = {};
    EXPECT_EQ(file.Seek(at, CFile64::begin), at);
    EXPECT_EQ(file.Read(buf, 4), 4u);
    EXPECT_EQ(std::string(buf, 4), "EDB!");
    EXPECT_EQ(file.GetPosition(), at + 4);
    EXPECT_EQ(file.Seek(4, CFile64::end, false), at);
    EXPECT_EQ(file.Seek(2, CFile64::current, true), at + 2);
}

TEST(CFile64, OpenIsExclusiveAcrossObjectsAndProcesses) {
    TempFile f;
    writeBytes(f, 4096);
    CFile64 first;
    ASSERT_TRUE(first.Open(f.str()));
    CFile64 second;
    FileErrorRecord err;
    EXPECT_FALSE(second.Open(f.str(), &err));
    EXPECT_EQ(err.code, EBUSY);
    EXPECT_EQ(err.fileName, f.str());

#ifndef _WIN32
    // (On Windows the sharing mode is kept by the system for every process alike.)
    const pid_t child = fork();
    if (child == 0) {
        CFile64 other;
        _exit(other.Open(f.str()) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";
#endif

    first.Close();
    EXPECT_TRUE(second.Open(f.str()));
}

TEST(CFile64, MissingFileAndCloseTwice) {
    CFile64 file;
    FileErrorRecord err;
    EXPECT_FALSE(file.Open("/nonexistent/store.edb", &err));
    EXPECT_EQ(err.code, ENOENT);
    EXPECT_NO_THROW(file.Close());
    EXPECT_NO_THROW(file.Close());
    EXPECT_FALSE(file.isOpen());
}

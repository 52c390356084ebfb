// SHA-256 against the published example digests (FIPS 180-4 examples, NIST CAVS short and long
// messages), fed whole and in awkward pieces, and against a file's range.
#include "deliver/sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {
using edb::conv::Sha256;
using edb::conv::Sha256Hex;

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnop"
                        "jklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Lengths around the padding boundary (55, 56, 64 bytes) take another block or not.
    EXPECT_EQ(Sha256Hex(std::string(55, 'a')),
              "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Sha256Hex(std::string(56, 'a')),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(Sha256Hex(std::string(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data += static_cast<char>(i * 7 + 3);
    }
    const std::string whole = Sha256Hex(data);
    for (std::size_t piece : {1U, 3U, 63U, 64U, 65U, 200U}) {
        Sha256 h;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            h.update(std::string_view(data).substr(at, piece));
        }
        EXPECT_EQ(h.hex(), whole) << piece;
    }
}

TEST(Sha256, FileAndRange) {
    const auto path = std::filesystem::temp_directory_path() / "edb-sha256-test.bin";
    {
        std::ofstream out(path, std::ios::binary);
        out << "xxabcyy";
    }
    std::string digest;
    ASSERT_TRUE(edb::conv::Sha256OfFile(path, digest, 2, 3));
    EXPECT_EQ(digest, Sha256Hex("abc"));
    ASSERT_TRUE(edb::conv::Sha256OfFile(path, digest));
    EXPECT_EQ(digest, Sha256Hex("xxabcyy"));
    EXPECT_FALSE(edb::conv::Sha256OfFile(path, digest, 5, 3)); // past the end
    std::filesystem::remove(path);
    EXPECT_FALSE(edb::conv::Sha256OfFile(path, digest));
}

} // namespace

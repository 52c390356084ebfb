// The fast paths of the scan against plain, literal readings on generated stores: the chunk
// pages noted by the first pass, the indexed long-value key lookups and the streamed dump.
#include "cli/json_catalog.h"
#include "decode/long_values.h"
#include "scan/chunk_pages.h"
#include "scan/scan.h"
#include "tests/support/bench_store.h"
#include "tests/support/demo_store.h"
#include "tests/support/store_builder.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

using namespace edb;

namespace {

class QuietHost : public ScanHost {
public:
    void progress(std::int64_t position) override { positions.push_back(position); }
    void mailboxRowsReady(const std::vector<std::string>&) override {}
    std::vector<std::int64_t> positions;
};

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The long-value stage read literally: every page of the file tested, every key tried on every
// record position in key order, then the offsets handed to the attachments.
std::vector<std::vector<std::uint64_t>> literalAttachmentChunks(const StoreCatalog& cat,
                                                                const std::string& path) {
    const std::vector<std::uint8_t> file = readAll(path);
    std::vector<std::uint64_t> chunkPages;
    for (std::uint64_t o = 0; o < file.size(); o += kPageSize) {
        const std::size_t n = std::min<std::uint64_t>(kPageSize, file.size() - o);
        if (IsLongValueChunkPage(ByteView(file.data() + o, n), cat.longValueOwner)) {
            chunkPages.push_back(o);
        }
    }
    struct Key {
        std::uint16_t reference;
        std::vector<std::uint64_t> offsets;
    };
    std::vector<Key> keys;
    for (const MessageEntry& m : cat.messages) {
        for (const AttachmentEntry& a : m.attachments) {
            if (a.position != 0) {
                continue;
            }
            bool known = false;
            for (const Key& k : keys) {
                known = known || k.reference == a.reference;
            }
            if (!known) {
                keys.push_back({a.reference, {}});
            }
        }
    }
    auto addOnce = [](std::vector<std::uint64_t>& list, std::uint64_t v) {
        for (const auto x : list) {
            if (x == v) {
                return false;
            }
        }
        list.push_back(v);
        return true;
    };
    for (const std::uint64_t o : chunkPages) {
        const std::size_t n = std::min<std::uint64_t>(kPageSize, file.size() - o);
        const ByteView page(file.data() + o, n);
        std::vector<std::int64_t> pos{42, 58};
        for (std::int64_t j = 48; j < static_cast<std::int64_t>(n) && pos.size() < 50; ++j) {
            if (page.matches(j, {0x03, 0x00, 0x05})) {
                pos.push_back(j + 3);
            }
        }
        bool done = false;
        for (Key& k : keys) {
            if (done) {
                break;
            }
            for (std::size_t p = 0; p < pos.size(); ++p) {
                const auto ref = page.readU16Le(pos[p]);
                const auto chunk = page.readU32Be(pos[p] + 2);
                if (!ref || *ref != k.reference || !chunk ||
                    static_cast<std::int32_t>(*chunk) % 4014 != 0) {
                    continue;
                }
                const bool blocked =
                    pos[p] == 58 && (page.byteOr0(42) != 0 || page.byteOr0(43) != 0);
                if (!blocked) {
                    const bool added = addOnce(k.offsets, o + static_cast<std::uint64_t>(pos[p]));
                    done = added && (pos.size() == 2 || (pos.size() == 3 && p == 2));
                }
                break;
            }
        }
    }
    std::vector<std::vector<std::uint64_t>> out;
    for (const MessageEntry& m : cat.messages) {
        for (const AttachmentEntry& a : m.attachments) {
            std::vector<std::uint64_t> chunks;
            if (a.position == 0) {
                for (const Key& k : keys) {
                    if (k.reference == a.reference) {
                        for (const auto v : k.offsets) {
                            addOnce(chunks, v);
                        }
                        break;
                    }
                }
            }
            out.push_back(chunks);
        }
    }
    return out;
}

std::vector<std::vector<std::uint64_t>> scannedAttachmentChunks(const StoreCatalog& cat) {
    std::vector<std::vector<std::uint64_t>> out;
    for (const MessageEntry& m : cat.messages) {
        for (const AttachmentEntry& a : m.attachments) {
            out.push_back(a.chunks.values());
        }
    }
    return out;
}

void writeBench(const std::string& path, std::uint64_t seed, std::uint64_t size,
                std::uint64_t messages) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    edbtest::writeBenchStore(out, {seed, size, messages});
}

} // namespace

TEST(Scale, ChunkPagesFromTheFirstPassMatchAWholeSecondRead) {
    for (std::uint64_t seed : {1, 2, 3}) {
        edbtest::TempFile f;
        writeBench(f.str(), seed, 3u << 20, 400);
        StoreCatalog cat;
        QuietHost host;
        ASSERT_EQ(RunScan(cat, f.str(), host).outcome, ScanOutcome::Complete) << seed;
        const auto scanned = scannedAttachmentChunks(cat);
        EXPECT_EQ(scanned, literalAttachmentChunks(cat, f.str())) << seed;
        std::size_t withChunks = 0;
        for (const auto& c : scanned) {
            withChunks += c.empty() ? 0 : 1;
        }
        EXPECT_GT(withChunks, 0u) << "the store should exercise the long-value stage";
    }
}

// Body chunks credited from the references the first pass noted, against every owner-106 page
// of the file read again and matched in mode 1, then the formatted chains walked in mode 2.
TEST(Scale, BodyChunksFromNotedReferencesMatchPagesReadAgain) {
    for (std::uint64_t seed : {1, 4}) {
        edbtest::TempFile f;
        writeBench(f.str(), seed, 3u << 20, 400);
        StoreCatalog cat;
        QuietHost host;
        ASSERT_EQ(RunScan(cat, f.str(), host).outcome, ScanOutcome::Complete) << seed;
        std::vector<std::vector<std::uint64_t>> scanned;
        for (MessageEntry& m : cat.messages) {
            scanned.push_back(m.formattedBody.chunks.values());
            scanned.push_back(m.primaryBody.chunks.values());
            m.formattedBody.chunks.clear();
            m.primaryBody.chunks.clear();
        }
        const std::vector<std::uint8_t> file = readAll(f.str());
        for (std::uint64_t o = 0; o < file.size(); o += kPageSize) {
            const ByteView page(file.data() + o,
                                std::min<std::uint64_t>(kPageSize, file.size() - o));
            if (page.readU32Le(24) == 106u) {
                MatchLongValueChunks(cat, page, o, 1);
            }
        }
        for (MessageEntry& m : cat.messages) {
            for (std::size_t i = 0; i < m.formattedBody.chunks.size(); ++i) {
                const std::uint64_t p = m.formattedBody.chunks.values()[i];
                if (p >= 52 && p - 52 < file.size()) {
                    const ByteView block(
                        file.data() + p - 52,
                        std::min<std::uint64_t>(kPageSize, file.size() - (p - 52)));
                    MatchLongValueChunks(cat, block, p - 52, 2);
                }
            }
        }
        std::vector<std::vector<std::uint64_t>> literal;
        std::size_t withChunks = 0;
        for (const MessageEntry& m : cat.messages) {
            literal.push_back(m.formattedBody.chunks.values());
            literal.push_back(m.primaryBody.chunks.values());
            withChunks += m.primaryBody.chunks.empty() ? 0 : 1;
        }
        EXPECT_EQ(scanned, literal) << seed;
        EXPECT_GT(withChunks, 0u) << "the store should exercise mode 1";
    }
}

// The streamed text is valid JSON and exactly what the JSON library itself would print for the
// same document: the library checks our escapes, indentation and UTF-8.
void expectCanonicalJson(const std::string& text) {
    const auto doc = nlohmann::ordered_json::parse(text);
    EXPECT_EQ(doc.dump(2) + "\n", text);
}

TEST(Scale, StreamedDumpIsTheLibrarysOwnText) {
    {
        edbtest::TempFile f;
        writeBench(f.str(), 5, 2u << 20, 300);
        StoreCatalog cat;
        QuietHost host;
        const ScanResult r = RunScan(cat, f.str(), host);
        expectCanonicalJson(edbcli::catalogJsonText(cat, r));
    }
    {
        edbtest::TempFile f;
        edbtest::writeDemoStore(f.path());
        StoreCatalog cat;
        QuietHost host;
        const ScanResult r = RunScan(cat, f.str(), host);
        expectCanonicalJson(edbcli::catalogJsonText(cat, r));
    }
    {
        // Texts that need escapes, non-ASCII text, attachments, contacts and chunk lists.
        StoreCatalog cat;
        FolderId folder{1, 0, 0, 0, 0, 0, 0, 9};
        FolderId id{1, 0, 0, 0, 0, 0, 1, 2};
        cat.messages.AddMessage(folder, id, "tab\there \"quoted\" back\\slash \x01\x1f",
                                "Ren\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0x01C2D345FC5DB900ULL,
                                'c');
        cat.messages.AddMessage(folder, FolderId{1, 0, 0, 0, 0, 0, 1, 3}, "", "", 0, 0);
        MessageEntry& m = *cat.messages.begin();
        m.primaryBody.reference = 7;
        m.primaryBody.chunks.AddOffset(4096 + 42);
        m.primaryBody.chunks.AddOffset(8192 + 42);
        AttachmentEntry& a = m.attachments.emplace_back();
        a.name = "a\nb.txt";
        a.chunks.AddOffset(12);
        m.attachments.emplace_back().name = "plain.txt";
        ContactEntry c;
        c.fullName = "Dunn Emil";
        c.emailAddress = "e@example.com\r";
        m.contacts.push_back(c);
        m.contacts.push_back(ContactEntry{});
        const ScanResult r{};
        const std::string text = edbcli::catalogJsonText(cat, r);
        expectCanonicalJson(text);
        const auto doc = nlohmann::json::parse(text);
        const auto& first = doc.at("messages").at(0);
        EXPECT_EQ(first.at("subject"), "tab\there \"quoted\" back\\slash \x01\x1f");
        EXPECT_EQ(first.at("sender"), "Ren\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
        EXPECT_EQ(first.at("filetime"), "01c2d345fc5db900");
        EXPECT_EQ(first.at("primary_body").at("chunks"), nlohmann::json({4096 + 42, 8192 + 42}));
        EXPECT_EQ(first.at("attachments").at(0).at("name"), "a\nb.txt");
        EXPECT_EQ(first.at("contacts").at(0).at("email_address"), "e@example.com\r");
        EXPECT_EQ(doc.at("messages").at(1).at("primary_body").at("reference"), nullptr);
        StoreCatalog empty;
        expectCanonicalJson(edbcli::catalogJsonText(empty, r));
    }
    {
        // Enough messages for several rounds of batches formatted on two threads, the last
        // round with one batch only.
        StoreCatalog cat;
        for (std::uint32_t i = 0; i < 4096 * 4 + 123; ++i) {
            const FolderId folder{1, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(i % 7)};
            const FolderId id{1,
                              0,
                              0,
                              0,
                              static_cast<std::uint8_t>(i >> 16),
                              static_cast<std::uint8_t>(i >> 8),
                              static_cast<std::uint8_t>(i),
                              1};
            cat.messages.AddMessage(folder, id, "subject " + std::to_string(i), "s\"x",
                                    std::uint64_t{i} * 0x0101010101ULL, "ac\0"[i % 3]);
        }
        const ScanResult r{};
        expectCanonicalJson(edbcli::catalogJsonText(cat, r));
    }
}

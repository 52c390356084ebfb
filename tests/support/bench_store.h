#pragma once
// Large, realistic stores for the benchmark and the scale tests, written page by page without
// holding the store in memory. The same seed gives the same bytes.
//
// Layout: a header page, the mailbox pages, the folder pages (records shuffled, so discovery
// needs several sweeps), then one batch per folder: its messages' properties records, long-value
// bodies, attachment records and long-value attachments, and its contents table, with noise
// pages (other owners, random and sparse bytes, and a few pages of the scanned owners holding
// only garbage) spread between them so the file reaches the requested size.
#include <cstdint>
#include <ostream>

namespace edbtest {

// Plain: few long values, nearly no formatted-body chains. Chains: about 15 % of the messages
// with a compressed-RTF body of 3 to 8 chunks (half of them found only by the chain walk),
// 30 % with long-value plain bodies and more attachments of several chunks; about 100,000
// recorded pages per GiB. Users: what users' stores look like, about 100 messages per MiB,
// most with a plain text body of several KiB in code page 1252, 10 % with only an RTF body over
// several chunks and 10 % with only an HTML body, attachments of several chunks more often.
enum class BenchShape { Plain, Chains, Users };

struct BenchStoreOptions {
    std::uint64_t seed = 1;
    std::uint64_t sizeBytes = 1ULL << 30; // reached with noise pages; more if the data needs it
    std::uint64_t messages = 100000;
    BenchShape shape = BenchShape::Plain;
};

struct BenchStoreSummary {
    std::uint64_t pages = 0;
    std::uint64_t dataPages = 0;
    std::uint64_t messages = 0;
};

BenchStoreSummary writeBenchStore(std::ostream& out, const BenchStoreOptions& options);

} // namespace edbtest

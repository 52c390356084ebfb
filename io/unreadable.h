#pragma once
// The parts of the store that could not be read: page-aligned byte ranges with the system's
// error code. A failing disk loses the pages it cannot give back, never the rest of the store;
// every reader sees those pages as zeros, and the front ends say which bytes were missed.
#include "io/thread_safety.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace edb {

struct UnreadableRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    int code = 0; // the system's error code of the failed read
    [[nodiscard]] std::uint64_t end() const { return offset + length; }
    [[nodiscard]] std::string reason() const; // the system's words for code (in file64.cpp)
    friend bool operator==(const UnreadableRange&, const UnreadableRange&) = default;
};

// Thread-safe: the read-ahead threads add while later stages and Convert ask.
class UnreadableRanges {
public:
    // Notes [offset, offset + length) as unreadable; it joins a range it touches or overlaps
    // when both failed with the same code, so a run of bad pages is one range.
    void add(std::uint64_t offset, std::uint64_t length, int code);
    // False until the first add: the healthy path asks nothing else.
    [[nodiscard]] bool any() const { return m_any.load(std::memory_order_acquire); }
    // In file order.
    [[nodiscard]] std::vector<UnreadableRange> list() const;
    // The first range that overlaps [offset, offset + length), if any.
    [[nodiscard]] std::optional<UnreadableRange> firstWithin(std::uint64_t offset,
                                                             std::uint64_t length) const;
    void clear();

private:
    mutable SharedMutex m_mutex;
    std::map<std::uint64_t, UnreadableRange> m_ranges EDB_GUARDED_BY(m_mutex); // by offset
    std::atomic<bool> m_any{false};
};

// Sum of the ranges' lengths.
[[nodiscard]] std::uint64_t UnreadableBytes(const std::vector<UnreadableRange>& ranges);

} // namespace edb

#pragma once
// A multimap from 64-bit keys to pointers in one open-addressed array: a lookup touches one
// cache line in the usual case, where a node-based map chases a bucket and a node. Entries are
// only added, never removed.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace edb {

template <class T> class FlatMultiIndex {
public:
    // A value under `key` for which match(value) holds, or null. Which one, when several match,
    // is not defined: callers keep keys and matches unique.
    template <class Match> T* find(std::uint64_t key, Match&& match) const {
        if (m_slots.empty()) {
            return nullptr;
        }
        for (std::size_t i = home(key);; i = (i + 1) & m_mask) {
            const Slot& s = m_slots[i];
            if (s.value == nullptr) {
                return nullptr;
            }
            if (s.key == key && match(s.value)) {
                return s.value;
            }
        }
    }
    void insert(std::uint64_t key, T* value) {
        if (2 * (m_count + 1) > m_slots.size()) {
            grow();
        }
        place(key, value);
        ++m_count;
    }
    [[nodiscard]] std::size_t size() const { return m_count; }

private:
    struct Slot {
        std::uint64_t key = 0;
        T* value = nullptr; // null: empty
    };
    [[nodiscard]] std::size_t home(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> m_shift) & m_mask;
    }
    void place(std::uint64_t key, T* value) {
        std::size_t i = home(key);
        while (m_slots[i].value != nullptr) {
            i = (i + 1) & m_mask;
        }
        m_slots[i] = Slot{key, value};
    }
    void grow() {
        std::vector<Slot> old = std::move(m_slots);
        const std::size_t n = old.empty() ? 1024 : 2 * old.size();
        m_slots.assign(n, Slot{});
        m_mask = n - 1;
        m_shift = 64;
        for (std::size_t k = n; k > 1; k >>= 1) {
            --m_shift;
        }
        for (const Slot& s : old) {
            if (s.value != nullptr) {
                place(s.key, s.value);
            }
        }
    }

    std::vector<Slot> m_slots;
    std::size_t m_count = 0;
    std::size_t m_mask = 0;
    int m_shift = 64;
};

} // namespace edb

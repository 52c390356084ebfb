#include "io/read_ahead.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace edb {

namespace {
// Starts `count` reader threads running run(t); false when the system refused one (those that
// did start must then be stopped by the caller).
template <class Run>
bool startReaders(std::vector<std::thread>& threads, std::size_t count, Run run) {
    try {
        for (std::size_t t = 0; t < count; ++t) {
            threads.emplace_back([run, t] { run(t); });
        }
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void joinReaders(std::mutex& mutex, std::condition_variable& cv, bool& quit,
                 std::vector<std::thread>& threads) {
    {
        std::lock_guard lock(mutex);
        quit = true;
    }
    cv.notify_all();
    for (std::thread& t : threads) {
        t.join();
    }
    threads.clear();
}
} // namespace

BlockReadAhead::BlockReadAhead(const CFile64& file, std::uint64_t size, std::size_t blockBytes,
                               std::size_t slots, Prepare prepare)
    : m_file(file), m_size(size), m_blockBytes(blockBytes), m_prepare(std::move(prepare)),
      m_slots(SlotCount(slots)) {
    for (Slot& s : m_slots) {
        s.bytes.resize(m_blockBytes);
    }
    if (!startReaders(m_threads, kReaders, [this](std::size_t t) { run(t); })) {
        // Not every reader could start: none is used, next() reads on the caller's thread.
        stopReaders();
        for (Slot& s : m_slots) {
            s.full = false;
        }
        m_quit = false;
    }
}

BlockReadAhead::~BlockReadAhead() {
    stopReaders();
}

void BlockReadAhead::stopReaders() {
    joinReaders(m_mutex, m_cv, m_quit, m_threads);
}

void BlockReadAhead::readInto(Slot& slot, std::uint64_t base) const {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_blockBytes, m_size - base));
    const auto index = static_cast<std::size_t>(&slot - m_slots.data());
    slot.block = Block{base, want, slot.bytes.data(), index};
    slot.error = nullptr;
    try {
        const std::size_t got = m_file.ReadAt(base, slot.bytes.data(), want);
        if (got < want) {
            std::memset(slot.bytes.data() + got, 0, want - got);
        }
        if (m_prepare) {
            m_prepare(slot.block);
        }
    } catch (...) {
        slot.error = std::current_exception();
    }
}

// Reader t reads blocks t, t + kReaders, ...; the slot count is a multiple of kReaders, so each
// slot only ever holds one reader's blocks, in order.
void BlockReadAhead::run(std::size_t t) {
    for (std::uint64_t k = t; k * m_blockBytes < m_size; k += kReaders) {
        Slot& slot = m_slots[k % m_slots.size()];
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || !slot.full; });
            if (m_quit || k > m_failedBlock) {
                return; // nothing past a failed read is wanted
            }
        }
        // The slot is this reader's alone until it is marked full.
        readInto(slot, k * m_blockBytes);
        const bool failed = slot.error != nullptr;
        {
            std::lock_guard lock(m_mutex);
            slot.full = true;
            if (failed) {
                m_failedBlock = std::min(m_failedBlock, k);
            }
        }
        m_cv.notify_all();
        if (failed) {
            return;
        }
    }
}

bool BlockReadAhead::next(Block& block) {
    if (m_held) {
        Slot& done = m_slots[(m_nextUse - 1) % m_slots.size()];
        if (!m_threads.empty()) {
            {
                std::lock_guard lock(m_mutex);
                done.full = false;
            }
            m_cv.notify_all();
        }
        m_held = false;
    }
    if (m_nextUse * m_blockBytes >= m_size) {
        return false;
    }
    Slot& slot = m_slots[m_nextUse % m_slots.size()];
    if (!m_threads.empty()) {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return slot.full; });
    } else {
        readInto(slot, m_nextUse * m_blockBytes);
    }
    ++m_nextUse;
    m_held = true;
    if (slot.error) {
        std::rethrow_exception(slot.error);
    }
    block = slot.block;
    return true;
}

PageReadAhead::PageReadAhead(const CFile64& file, std::uint64_t storeSize,
                             std::vector<std::uint64_t> offsets, std::size_t pagesPerBatch,
                             Prepare prepare, std::size_t readers)
    : m_file(file), m_storeSize(storeSize), m_offsets(std::move(offsets)),
      m_perBatch(std::max<std::size_t>(pagesPerBatch, 1)), m_prepare(std::move(prepare)),
      m_readers(std::clamp<std::size_t>(readers, 1, 2)), m_batches(2 * m_readers) {
    for (Batch& b : m_batches) {
        b.bytes.resize(m_perBatch * kPageSize);
        b.lengths.reserve(m_perBatch);
    }
    if (m_offsets.empty()) {
        return;
    }
    if (!startReaders(m_threads, m_readers, [this](std::size_t t) { run(t); })) {
        // Not every reader could start: none is used, next() reads on the caller's thread.
        stopReaders();
        for (Batch& b : m_batches) {
            b.full = false;
        }
        m_quit = false;
        m_failedBatch = SIZE_MAX;
    }
}

PageReadAhead::~PageReadAhead() {
    stopReaders();
}

void PageReadAhead::stopReaders() {
    joinReaders(m_mutex, m_cv, m_quit, m_threads);
}

void PageReadAhead::fill(Batch& batch, std::size_t first) const {
    batch.lengths.clear();
    batch.error = nullptr;
    const std::size_t last = std::min(m_offsets.size(), first + m_perBatch);
    try {
        for (std::size_t k = first; k < last; ++k) {
            std::uint8_t* bytes = batch.bytes.data() + (k - first) * kPageSize;
            const std::size_t n = ReadPage(m_file, m_storeSize, m_offsets[k], bytes);
            if (m_prepare) {
                m_prepare(k, bytes, n);
            }
            batch.lengths.push_back(n);
        }
    } catch (...) {
        batch.error = std::current_exception();
    }
}

void PageReadAhead::run(std::size_t reader) {
    for (std::size_t b = reader; b * m_perBatch < m_offsets.size(); b += m_readers) {
        Batch& batch = batchFor(b);
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || !batch.full; });
            if (m_quit || b > m_failedBatch) {
                return; // nothing past a failed read is wanted
            }
        }
        fill(batch, b * m_perBatch); // the batch is this reader's alone until marked full
        const bool failed = batch.error != nullptr;
        {
            std::lock_guard lock(m_mutex);
            batch.full = true;
            if (failed) {
                m_failedBatch = std::min(m_failedBatch, b);
            }
        }
        m_cv.notify_all();
        if (failed) {
            return;
        }
    }
}

bool PageReadAhead::next(const std::uint8_t*& bytes, std::size_t& n) {
    for (;;) {
        if (m_held) {
            Batch& batch = batchFor(m_nextBatch - 1);
            if (m_inBatch < batch.lengths.size()) {
                bytes = batch.bytes.data() + m_inBatch * kPageSize;
                n = batch.lengths[m_inBatch];
                ++m_inBatch;
                return true;
            }
            if (batch.error) {
                std::rethrow_exception(batch.error);
            }
            if (!m_threads.empty()) {
                {
                    std::lock_guard lock(m_mutex);
                    batch.full = false;
                }
                m_cv.notify_all();
            }
            m_held = false;
        }
        if (m_nextBatch * m_perBatch >= m_offsets.size()) {
            return false;
        }
        Batch& batch = batchFor(m_nextBatch);
        if (!m_threads.empty()) {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return batch.full; });
        } else {
            fill(batch, m_nextBatch * m_perBatch);
        }
        ++m_nextBatch;
        m_inBatch = 0;
        m_held = true;
    }
}

} // namespace edb

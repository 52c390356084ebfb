#include "store/read_ahead.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace edb {

BlockReadAhead::BlockReadAhead(const CFile64& file, std::uint64_t size, std::size_t blockBytes,
                               std::size_t slots)
    : m_file(file), m_size(size), m_blockBytes(blockBytes),
      m_slots(std::max<std::size_t>(slots, 2)) {
    for (Slot& s : m_slots) {
        s.bytes.resize(m_blockBytes);
    }
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No second thread: next() reads on the caller's thread.
    }
}

BlockReadAhead::~BlockReadAhead() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
}

void BlockReadAhead::readInto(Slot& slot, std::uint64_t base) const {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_blockBytes, m_size - base));
    slot.block = Block{base, want, slot.bytes.data()};
    slot.error = nullptr;
    try {
        const std::size_t got = m_file.ReadAt(base, slot.bytes.data(), want);
        if (got < want) {
            std::memset(slot.bytes.data() + got, 0, want - got);
        }
    } catch (...) {
        slot.error = std::current_exception();
    }
}

void BlockReadAhead::run() {
    for (std::uint64_t k = 0; k * m_blockBytes < m_size; ++k) {
        Slot& slot = m_slots[k % m_slots.size()];
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || !slot.full; });
            if (m_quit) {
                return;
            }
        }
        // The slot is the reader's alone until it is marked full.
        readInto(slot, k * m_blockBytes);
        const bool failed = slot.error != nullptr;
        {
            std::lock_guard lock(m_mutex);
            slot.full = true;
        }
        m_cv.notify_all();
        if (failed) {
            return; // nothing past a failed read is wanted
        }
    }
}

bool BlockReadAhead::next(Block& block) {
    if (m_held) {
        Slot& done = m_slots[(m_nextUse - 1) % m_slots.size()];
        if (m_thread.joinable()) {
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
    if (m_thread.joinable()) {
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
                             std::vector<std::uint64_t> offsets, std::size_t pagesPerBatch)
    : m_file(file), m_storeSize(storeSize), m_offsets(std::move(offsets)),
      m_perBatch(std::max<std::size_t>(pagesPerBatch, 1)) {
    for (Batch& b : m_batches) {
        b.bytes.resize(m_perBatch * kPageSize);
        b.lengths.reserve(m_perBatch);
    }
    if (m_offsets.empty()) {
        return;
    }
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No second thread: next() reads on the caller's thread.
    }
}

PageReadAhead::~PageReadAhead() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
}

void PageReadAhead::fill(Batch& batch, std::size_t first) const {
    batch.lengths.clear();
    batch.error = nullptr;
    const std::size_t last = std::min(m_offsets.size(), first + m_perBatch);
    try {
        for (std::size_t k = first; k < last; ++k) {
            batch.lengths.push_back(ReadPage(m_file, m_storeSize, m_offsets[k],
                                             batch.bytes.data() + (k - first) * kPageSize));
        }
    } catch (...) {
        batch.error = std::current_exception();
    }
}

void PageReadAhead::run() {
    for (std::size_t b = 0; b * m_perBatch < m_offsets.size(); ++b) {
        Batch& batch = m_batches[b % 2];
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || !batch.full; });
            if (m_quit) {
                return;
            }
        }
        fill(batch, b * m_perBatch); // the batch is the reader's alone until marked full
        const bool failed = batch.error != nullptr;
        {
            std::lock_guard lock(m_mutex);
            batch.full = true;
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
            Batch& batch = m_batches[(m_nextBatch - 1) % 2];
            if (m_inBatch < batch.lengths.size()) {
                bytes = batch.bytes.data() + m_inBatch * kPageSize;
                n = batch.lengths[m_inBatch];
                ++m_inBatch;
                return true;
            }
            if (batch.error) {
                std::rethrow_exception(batch.error);
            }
            if (m_thread.joinable()) {
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
        Batch& batch = m_batches[m_nextBatch % 2];
        if (m_thread.joinable()) {
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

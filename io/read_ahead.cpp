#include "io/read_ahead.h"

#include <cstring>
#include <system_error>

namespace edb {

namespace {
std::uint64_t unitsOf(std::uint64_t count, std::uint64_t perUnit) {
    return count / perUnit + (count % perUnit != 0 ? 1 : 0);
}

std::vector<std::vector<std::uint8_t>> buffers(std::size_t count, std::size_t bytes) {
    return std::vector<std::vector<std::uint8_t>>(count, std::vector<std::uint8_t>(bytes));
}
} // namespace

ReadAheadPipeline::ReadAheadPipeline(std::uint64_t units, std::size_t readers, std::size_t slots,
                                     Fill fill)
    : m_units(units), m_readers(readers), m_fill(std::move(fill)), m_errors(slots),
      m_full(slots, 0) {
    if (m_units == 0) {
        return;
    }
    try {
        for (std::size_t t = 0; t < m_readers; ++t) {
            m_threads.emplace_back([this, t] { run(t); });
        }
    } catch (const std::system_error&) {
        // Not every reader could start: none is used, next() fills on the caller's thread.
        stopReaders();
        std::fill(m_full.begin(), m_full.end(), 0);
        m_quit = false;
        m_failedUnit = UINT64_MAX;
    }
}

ReadAheadPipeline::~ReadAheadPipeline() {
    stopReaders();
}

void ReadAheadPipeline::stopReaders() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_all();
    for (std::thread& t : m_threads) {
        t.join();
    }
    m_threads.clear();
}

void ReadAheadPipeline::fillSlot(std::uint64_t unit, std::size_t slot) {
    m_errors[slot] = nullptr;
    try {
        m_fill(unit, slot);
    } catch (...) {
        m_errors[slot] = std::current_exception();
    }
}

void ReadAheadPipeline::run(std::size_t reader) {
    for (std::uint64_t k = reader; k < m_units; k += m_readers) {
        const std::size_t slot = static_cast<std::size_t>(k % m_full.size());
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || m_full[slot] == 0; });
            if (m_quit || k > m_failedUnit) {
                return; // nothing past a failed unit is wanted
            }
        }
        fillSlot(k, slot); // the slot is this reader's alone until it is marked full
        const bool failed = m_errors[slot] != nullptr;
        {
            std::lock_guard lock(m_mutex);
            m_full[slot] = 1;
            if (failed) {
                m_failedUnit = std::min(m_failedUnit, k);
            }
        }
        m_cv.notify_all();
        if (failed) {
            return;
        }
    }
}

bool ReadAheadPipeline::next(std::size_t& slot, std::exception_ptr& error) {
    if (m_failed) {
        slot = static_cast<std::size_t>((m_nextUse - 1) % m_full.size());
        error = m_errors[slot];
        return true;
    }
    if (m_held) {
        if (!m_threads.empty()) {
            {
                std::lock_guard lock(m_mutex);
                m_full[(m_nextUse - 1) % m_full.size()] = 0;
            }
            m_cv.notify_all();
        }
        m_held = false;
    }
    if (m_nextUse >= m_units) {
        return false;
    }
    slot = static_cast<std::size_t>(m_nextUse % m_full.size());
    if (!m_threads.empty()) {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_full[slot] != 0; });
    } else {
        fillSlot(m_nextUse, slot);
    }
    ++m_nextUse;
    m_held = true;
    error = m_errors[slot];
    m_failed = error != nullptr;
    return true;
}

BlockReadAhead::BlockReadAhead(const CFile64& file, std::uint64_t size, std::size_t blockBytes,
                               std::size_t slots, Prepare prepare)
    : m_file(file), m_size(size), m_blockBytes(std::max<std::size_t>(blockBytes, 1)),
      m_prepare(std::move(prepare)), m_bytes(buffers(SlotCount(slots), m_blockBytes)),
      m_blocks(m_bytes.size()),
      m_pipeline(unitsOf(m_size, m_blockBytes), kReaders, m_bytes.size(),
                 [this](std::uint64_t unit, std::size_t slot) { read(unit, slot); }) {}

void BlockReadAhead::read(std::uint64_t unit, std::size_t slot) {
    std::vector<std::uint8_t>& bytes = m_bytes[slot];
    const std::uint64_t base = unit * m_blockBytes;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_blockBytes, m_size - base));
    m_blocks[slot] = Block{base, want, bytes.data(), slot};
    const std::size_t got = m_file.ReadAt(base, bytes.data(), want);
    if (got < want) {
        std::memset(bytes.data() + got, 0, want - got);
    }
    if (m_prepare) {
        m_prepare(m_blocks[slot]);
    }
}

bool BlockReadAhead::next(Block& block) {
    std::size_t slot = 0;
    std::exception_ptr error;
    if (!m_pipeline.next(slot, error)) {
        return false;
    }
    if (error) {
        std::rethrow_exception(error);
    }
    block = m_blocks[slot];
    return true;
}

PageReadAhead::PageReadAhead(const CFile64& file, std::uint64_t storeSize,
                             std::vector<std::uint64_t> offsets, std::size_t pagesPerBatch,
                             Prepare prepare, std::size_t readers)
    : m_file(file), m_storeSize(storeSize), m_offsets(std::move(offsets)),
      m_perBatch(std::max<std::size_t>(pagesPerBatch, 1)), m_prepare(std::move(prepare)),
      m_batches(makeBatches(2 * std::clamp<std::size_t>(readers, 1, 2), m_perBatch)),
      m_pipeline(unitsOf(m_offsets.size(), m_perBatch), m_batches.size() / 2, m_batches.size(),
                 [this](std::uint64_t unit, std::size_t slot) { read(unit, slot); }) {}

void PageReadAhead::read(std::uint64_t unit, std::size_t slot) {
    Batch& batch = m_batches[slot];
    batch.lengths.clear();
    const auto first = static_cast<std::size_t>(unit * m_perBatch);
    const std::size_t last = std::min(m_offsets.size(), first + m_perBatch);
    for (std::size_t k = first; k < last; ++k) {
        std::uint8_t* bytes = batch.bytes.data() + (k - first) * kPageSize;
        const std::size_t n = ReadPage(m_file, m_storeSize, m_offsets[k], bytes);
        if (m_prepare) {
            m_prepare(k, bytes, n);
        }
        batch.lengths.push_back(n);
    }
}

std::vector<PageReadAhead::Batch> PageReadAhead::makeBatches(std::size_t count,
                                                             std::size_t perBatch) {
    std::vector<Batch> batches(count);
    for (Batch& b : batches) {
        b.bytes.resize(perBatch * kPageSize);
        b.lengths.reserve(perBatch);
    }
    return batches;
}

bool PageReadAhead::next(const std::uint8_t*& bytes, std::size_t& n) {
    for (;;) {
        if (m_held) {
            const Batch& batch = m_batches[m_slot];
            if (m_inBatch < batch.lengths.size()) {
                bytes = batch.bytes.data() + m_inBatch * kPageSize;
                n = batch.lengths[m_inBatch];
                ++m_inBatch;
                return true;
            }
            if (m_error) {
                std::rethrow_exception(m_error);
            }
            m_held = false;
        }
        if (!m_pipeline.next(m_slot, m_error)) {
            return false;
        }
        m_inBatch = 0;
        m_held = true;
    }
}

} // namespace edb

// Page-sized blocks at any offset, served from one wider read.
#include "scan/page_walk.h"

#include <algorithm>

namespace edb {

ByteView BlockWindow::block(std::uint64_t start, std::span<const std::uint64_t> nearby,
                            std::uint64_t back) {
    const std::uint64_t n = std::min<std::uint64_t>(kPageSize, m_storeSize - start);
    if (m_size == 0 || start < m_start || start + n > m_start + m_size) {
        // One read up to the end of the last block, of those asked for next, that fits in the
        // buffer from here; the page read rule for every block inside, a file that shrank
        // leaving zeros.
        std::uint64_t end = start + n;
        for (const std::uint64_t p : nearby) {
            if (p >= back && p - back > start) {
                const std::uint64_t blockEnd = p - back + kPageSize;
                if (blockEnd > end && blockEnd - start <= m_buf.size()) {
                    end = blockEnd;
                }
            }
        }
        const std::uint64_t want = std::min<std::uint64_t>(end - start, m_storeSize - start);
        const std::size_t got = m_file.ReadAt(start, m_buf.data(), want);
        std::fill(m_buf.begin() + static_cast<std::ptrdiff_t>(got),
                  m_buf.begin() + static_cast<std::ptrdiff_t>(want), 0);
        m_start = start;
        m_size = want;
    }
    return {m_buf.data() + (start - m_start), static_cast<std::size_t>(n)};
}

} // namespace edb

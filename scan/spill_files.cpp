// The long-value stage's temporary files: chunk-page notes of the first pass and the list of
// chunk-page offsets.
#include "scan/spill_files.h"

#include "io/file64.h"

#include <cerrno>

namespace edb {

namespace {
// The files' fields, little-endian whatever the machine, written and read at a moving place.
class LeWriter {
public:
    explicit LeWriter(std::uint8_t* at) : m_at(at) {}
    template <class T> void put(T v) {
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            *m_at++ = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }

private:
    std::uint8_t* m_at;
};

class LeReader {
public:
    explicit LeReader(const std::uint8_t* at) : m_at(at) {}
    template <class T> T get() {
        T v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            v = static_cast<T>(v | static_cast<T>(T{*m_at++} << (8 * i)));
        }
        return v;
    }

private:
    const std::uint8_t* m_at;
};

constexpr std::size_t kNoteHead = 15;  // offset, owner, positions, candidates, blocked
constexpr std::size_t kNoteRecord = 5; // reference, position, place
} // namespace

ChunkPageCandidates::ChunkPageCandidates() : m_temp("edb2eml-cp-"), m_file(m_temp.file()) {
    m_temp.requireOk();
    // Nobody else needs the name: removed at once, the file lives as long as it is open.
    m_temp.removeName();
    static_cast<void>(std::setvbuf(m_file, nullptr, _IOFBF, 1 << 16));
}

ChunkPageCandidates::~ChunkPageCandidates() = default;

void ChunkPageCandidates::Encode(std::uint64_t offset, std::uint32_t owner,
                                 const ChunkPageRecords& records, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + kNoteHead + kNoteRecord * records.candidates);
    LeWriter w(out.data() + at);
    w.put(offset);
    w.put(owner);
    w.put(records.positions);
    w.put(records.candidates);
    w.put(static_cast<std::uint8_t>(records.blockedAt58 ? 1 : 0));
    for (std::size_t c = 0; c < records.candidates; ++c) {
        w.put(records.reference[c]);
        w.put(records.position[c]);
        w.put(records.place[c]);
    }
}

void ChunkPageCandidates::noteEncoded(const std::vector<std::uint8_t>& notes) {
    if (ok() && !notes.empty() &&
        std::fwrite(notes.data(), 1, notes.size(), m_file) != notes.size()) {
        m_failed = true; // the long-value stage then reads the store again
    }
}

void ChunkPageCandidates::note(std::uint64_t offset, std::uint32_t owner,
                               const ChunkPageRecords& records) {
    if (!ok()) {
        return;
    }
    m_scratch.clear();
    Encode(offset, owner, records, m_scratch);
    noteEncoded(m_scratch);
}

bool ChunkPageCandidates::rewind() {
    if (!ok() || std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0) {
        m_failed = true;
        return false;
    }
    return true;
}

bool ChunkPageCandidates::next(std::uint64_t& offset, std::uint32_t& owner,
                               ChunkPageRecords& records) {
    std::uint8_t rec[kNoteHead + kNoteRecord * ChunkPageRecords::kMost];
    if (std::fread(rec, 1, kNoteHead, m_file) != kNoteHead) {
        return false;
    }
    LeReader head(rec);
    offset = head.get<std::uint64_t>();
    owner = head.get<std::uint32_t>();
    records.positions = head.get<std::uint8_t>();
    records.candidates = head.get<std::uint8_t>();
    records.blockedAt58 = head.get<std::uint8_t>() != 0;
    if (records.positions > ChunkPageRecords::kMost ||
        records.candidates > ChunkPageRecords::kMost) {
        m_failed = true;
        return false;
    }
    const std::size_t size = kNoteRecord * records.candidates;
    if (std::fread(rec, 1, size, m_file) != size) {
        m_failed = true;
        return false;
    }
    LeReader r(rec);
    for (std::size_t c = 0; c < records.candidates; ++c) {
        records.reference[c] = r.get<std::uint16_t>();
        records.position[c] = r.get<std::uint16_t>();
        records.place[c] = r.get<std::uint8_t>();
    }
    return true;
}

ChunkOffsetList::ChunkOffsetList() : m_temp("edb2eml-lv-"), m_file(m_temp.file()) {
    m_temp.requireOk();
}

void ChunkOffsetList::append(std::uint64_t offset) {
    std::uint8_t rec[kEntryBytes];
    LeWriter(rec).put(offset);
    if (std::fwrite(rec, 1, kEntryBytes, m_file) != kEntryBytes) {
        throw FileError(errno != 0 ? errno : EIO, m_temp.path(), "write failed");
    }
    m_bytes += kEntryBytes;
}

std::uint64_t ChunkOffsetList::rewindForReading() {
    if (std::fflush(m_file) != 0) {
        throw FileError(errno, m_temp.path(), "write failed");
    }
    std::rewind(m_file);
    return m_bytes;
}

bool ChunkOffsetList::next(std::uint64_t& offset) {
    std::uint8_t rec[kEntryBytes];
    if (std::fread(rec, 1, kEntryBytes, m_file) != kEntryBytes) {
        return false;
    }
    offset = LeReader(rec).get<std::uint64_t>();
    return true;
}

} // namespace edb

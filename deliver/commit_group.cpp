#include "deliver/commit_group.h"

#include <filesystem>
#include <utility>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

// A group ends at whichever comes first. Files stay open until named: well below any
// descriptor limit. The wait bounds what an interrupted run loses and how late the progress
// counts a message.
constexpr std::size_t kGroupFiles = 128;
constexpr std::uint64_t kGroupBytes = 64ULL << 20;
constexpr auto kGroupWait = std::chrono::milliseconds(500);


} // namespace

void CommitGroup::add(Files files, Namer namer) {
    if (m_waiting.empty()) {
        m_first = std::chrono::steady_clock::now();
    }
    for (const auto& f : files) {
        f->startSync();
        m_bytes += f->size();
    }
    m_files += files.size();
    m_waiting.push_back({std::move(files), std::move(namer)});
}

std::vector<Settled> CommitGroup::settle(bool all) {
    if (!m_waiting.empty() &&
        (all || m_files >= kGroupFiles || m_bytes >= kGroupBytes ||
         std::chrono::steady_clock::now() - m_first >= kGroupWait)) {
        commit();
    }
    return std::exchange(m_settled, {});
}

void CommitGroup::commit() {
    std::vector<Waiting> group = std::exchange(m_waiting, {});
    m_files = 0;
    m_bytes = 0;
    // Every file's data first, then the names, then the folders that got them.
    std::vector<Settled> outcomes(group.size());
    std::vector<OutputFile*> files;
    for (const Waiting& w : group) {
        for (const auto& f : w.files) {
            files.push_back(f.get());
        }
    }
    const std::vector<std::string> errors = OutputFile::syncTogether(files);
    for (std::size_t i = 0, at = 0; i < group.size(); ++i) {
        for (std::size_t k = 0; k < group[i].files.size(); ++k, ++at) {
            if (outcomes[i].error.empty()) {
                outcomes[i].error = errors[at];
            }
        }
    }
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (!outcomes[i].error.empty()) {
            continue;
        }
        try {
            outcomes[i].location = group[i].namer(group[i].files, outcomes[i].files);
        } catch (const std::exception& e) {
            outcomes[i].error = e.what();
            outcomes[i].files.clear();
        }
    }
    group.clear(); // the files not named are removed
    try {
        m_root.flush();
    } catch (const fs::filesystem_error& e) {
        // The names are there but may not survive a power cut: not counted as written.
        for (Settled& s : outcomes) {
            if (s.error.empty()) {
                s.error = e.what();
            }
        }
    }
    m_settled.insert(m_settled.end(), std::make_move_iterator(outcomes.begin()),
                     std::make_move_iterator(outcomes.end()));
}

} // namespace edb::conv

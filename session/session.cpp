#include "session/session.h"

#include <algorithm>
#include <utility>

namespace edb::session {

namespace {

using Mask = std::uint32_t;

constexpr Mask bit(Command c) {
    return Mask{1} << static_cast<unsigned>(c);
}
template <class... C> constexpr Mask bits(C... c) {
    return (bit(c) | ...);
}

constexpr Mask kAll = (Mask{1} << static_cast<unsigned>(Command::Count)) - 1;
// What a found mailbox list allows, while the scan runs and after it.
constexpr Mask kBrowsing =
    bits(Command::PickMailbox, Command::Next, Command::NextUserMailbox, Command::BackUserMailbox,
         Command::ListFolder, Command::Tick, Command::Convert, Command::Find,
         Command::ViewMessage, Command::Exit);

// The one table: for each phase, and for each task while it runs, the commands it lets through.
// A command is allowed when the phase and every running task let it through. One store per run
// while it shows mailboxes; a file that held none leaves the way open to another.
struct Row {
    Mask phase[static_cast<std::size_t>(Phase::Count)];
    Mask task[static_cast<std::size_t>(Task::Count)];
};
constexpr Row kTable{
    {
        /* NoStore   */ bits(Command::Open, Command::Exit),
        /* Scanning  */ kBrowsing | bit(Command::Stop),
        /* Stopped   */ kBrowsing,
        /* Scanned   */ kBrowsing,
        /* NotAStore */ bits(Command::Open, Command::Exit),
    },
    {
        /* Scan      */ kAll,
        // The steps wait for the tree on its way, so two builds never fill one view.
        /* TreeBuild */ kAll & ~bits(Command::NextUserMailbox, Command::BackUserMailbox),
        /* Listing   */ kAll,
        // One conversion at a time; its progress dialog holds the window meanwhile.
        /* Convert   */ bits(Command::Stop, Command::ListFolder, Command::Find,
                             Command::ViewMessage, Command::Exit),
        /* Find      */ kAll,
    },
};

} // namespace

const char* PhaseName(Phase p) {
    static constexpr const char* kNames[] = {"no store", "scanning", "stopped", "scanned",
                                             "not a store"};
    return p < Phase::Count ? kNames[static_cast<std::size_t>(p)] : "?";
}

const char* CommandName(Command c) {
    static constexpr const char* kNames[] = {
        "open",  "stop", "pick mailbox", "next", "next user mailbox", "back user mailbox",
        "list",  "tick", "convert",      "find", "view message",      "exit"};
    return c < Command::Count ? kNames[static_cast<std::size_t>(c)] : "?";
}

bool Session::allowed(Command c) const {
    if (c >= Command::Count) {
        return false;
    }
    Mask m = kTable.phase[index(m_phase)];
    for (std::size_t t = 0; t < m_tokens.size(); ++t) {
        if (!m_tokens[t].empty()) {
            m &= kTable.task[t];
        }
    }
    return (m & bit(c)) != 0;
}

bool Session::openStore(std::string path) {
    if (!allowed(Command::Open)) {
        return false;
    }
    forgetStore();
    m_path = std::move(path);
    m_phase = Phase::Scanning;
    return true;
}

void Session::forgetStore() {
    m_picked.reset();
    m_chosen.clear();
    m_step = 0;
    m_ticked.clear();
    m_tree.clear();
    m_converted.clear();
}

bool Session::addTreeItem(ItemId item, ItemId parent, std::size_t folder) {
    return m_tree.add(item, parent, folder);
}

void Session::clearTree() {
    m_tree.clear();
    m_ticked.clear();
}

std::vector<ItemId> Session::toggleTick(ItemId item) {
    if (!allowed(Command::Tick)) {
        return {};
    }
    std::vector<ItemId> changed = m_tree.toggle(item);
    const std::vector<std::size_t> folders = m_tree.tickedFolders();
    m_ticked = std::set<std::size_t>(folders.begin(), folders.end());
    return changed;
}

void Session::scanEnded(ScanEnd how) {
    m_lastEnd = how;
    switch (how) {
    case ScanEnd::Complete:
    case ScanEnd::Failed: // what was found before the failure stays usable
        m_phase = Phase::Scanned;
        break;
    case ScanEnd::Stopped:
        m_phase = Phase::Stopped;
        break;
    case ScanEnd::NoMailbox:
        forgetStore();
        m_phase = Phase::NotAStore;
        break;
    case ScanEnd::OpenFailed:
        forgetStore();
        m_path.clear();
        m_phase = Phase::NoStore;
        break;
    }
}

std::vector<ItemId> Session::untickConverted(const std::string& destination) {
    std::vector<ItemId> changed;
    for (const ItemId item : m_tree.items()) {
        if (m_tree.ticked(item) && convertedTo(m_tree.folderOf(item), destination)) {
            for (const ItemId c : m_tree.untickOne(item)) {
                changed.push_back(c);
            }
        }
    }
    const std::vector<std::size_t> folders = m_tree.tickedFolders();
    m_ticked = std::set<std::size_t>(folders.begin(), folders.end());
    return changed;
}

bool Session::isChosen(std::size_t mailbox) const {
    return std::find(m_chosen.begin(), m_chosen.end(), mailbox) != m_chosen.end();
}

bool Session::canAddPicked() const {
    return allowed(Command::Next) && m_picked.has_value() && !isChosen(*m_picked);
}

NextOutcome Session::next() {
    if (!canAddPicked()) {
        return m_chosen.empty() ? NextOutcome::NothingChosen : NextOutcome::AlreadyAdded;
    }
    m_chosen.push_back(*m_picked);
    // Each added mailbox is the newest step, so a later Back walks back through them in order.
    m_step = static_cast<std::int32_t>(m_chosen.size());
    return NextOutcome::Added;
}

std::optional<std::size_t> Session::mailboxAtStep(std::int32_t step) const {
    const std::int64_t at = step <= 1 ? 0 : std::int64_t{step} - 1;
    if (at < static_cast<std::int64_t>(m_chosen.size())) {
        return m_chosen[static_cast<std::size_t>(at)];
    }
    return std::nullopt;
}

bool Session::nextUserMailbox() {
    if (!allowed(Command::NextUserMailbox) || !mailboxAtStep(m_step + 1)) {
        return false;
    }
    ++m_step;
    return true;
}

bool Session::backUserMailbox() {
    if (!allowed(Command::BackUserMailbox) || m_step <= 1) {
        return false;
    }
    --m_step;
    return true;
}

void Session::setTicked(std::size_t folder, bool on) {
    if (on) {
        m_ticked.insert(folder);
    } else {
        m_ticked.erase(folder);
    }
}

void Session::setTicked(const std::vector<std::size_t>& folders) {
    m_ticked = std::set<std::size_t>(folders.begin(), folders.end());
}

void Session::markConverted(std::size_t folder, const std::string& destination) {
    m_converted[folder].insert(destination);
}

bool Session::isConverted(std::size_t folder) const {
    return m_converted.count(folder) != 0;
}

bool Session::convertedTo(std::size_t folder, const std::string& destination) const {
    const auto it = m_converted.find(folder);
    return it != m_converted.end() && it->second.count(destination) != 0;
}

std::vector<std::size_t> Session::alreadyConverted(const std::vector<std::size_t>& folders,
                                                   const std::string& destination) const {
    std::vector<std::size_t> out;
    for (const std::size_t f : folders) {
        if (convertedTo(f, destination) && std::find(out.begin(), out.end(), f) == out.end()) {
            out.push_back(f);
        }
    }
    return out;
}

void Session::startTask(Task t, std::shared_ptr<CancelToken> token, bool supersede) {
    if (t >= Task::Count || token == nullptr) {
        return;
    }
    auto& running = m_tokens[index(t)];
    if (supersede) {
        for (const auto& old : running) {
            old->cancel(StopReason::Superseded);
        }
        running.clear();
    }
    running.push_back(std::move(token));
}

void Session::finishTask(Task t, const std::shared_ptr<CancelToken>& token) {
    if (t >= Task::Count) {
        return;
    }
    auto& running = m_tokens[index(t)];
    running.erase(std::remove(running.begin(), running.end(), token), running.end());
}

void Session::cancelTask(Task t, StopReason reason) {
    if (t < Task::Count) {
        for (const auto& token : m_tokens[index(t)]) {
            token->cancel(reason);
        }
    }
}

void Session::cancelAll(StopReason reason) {
    for (const auto& running : m_tokens) {
        for (const auto& token : running) {
            token->cancel(reason);
        }
    }
}

std::shared_ptr<CancelToken> Session::token(Task t) const {
    return t < Task::Count && !m_tokens[index(t)].empty() ? m_tokens[index(t)].back() : nullptr;
}

} // namespace edb::session

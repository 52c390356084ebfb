#pragma once
// The run's state as a window sees it, without any window: where the run stands (its phase and
// the tasks under way), which commands that allows, the mailboxes the user added, the folders
// ticked and where each was converted, and the cancel tokens of running tasks. A window asks the
// session what is allowed and tells it what the user did; it decides nothing itself, so another
// native window could sit on the same session. Window thread only: workers never touch it.
#include "io/cancel.h"
#include "session/folder_ticks.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace edb::session {

// Where the store part of the run stands.
enum class Phase : std::uint8_t {
    NoStore,   // nothing opened yet, or the last open failed
    Scanning,  // the scan runs; what it found so far may already be used
    Stopped,   // the user stopped the scan: what it found stays usable, it never goes on
    Scanned,   // the scan ended; what it found is all there will be
    NotAStore, // the file held no mailbox: another file may be opened
    Count,
};

// Work that runs beside the phase, each with its own cancel token.
enum class Task : std::uint8_t {
    Scan,
    TreeBuild,
    Listing,
    Convert,
    Find,
    Count,
};

// What the user can ask for.
enum class Command : std::uint8_t {
    Open, // Browse, File > Open, a path given or dropped
    Stop,
    PickMailbox,
    Next,
    NextUserMailbox,
    BackUserMailbox,
    ListFolder,
    Tick,
    Convert,
    Find,
    ViewMessage,
    Exit,
    Count,
};

[[nodiscard]] const char* PhaseName(Phase p);
[[nodiscard]] const char* CommandName(Command c);

// How a scan ended, as far as the session cares.
enum class ScanEnd : std::uint8_t { Complete, Stopped, NoMailbox, OpenFailed, Failed };

// What Next did.
enum class NextOutcome : std::uint8_t {
    Added,        // the picked mailbox joined the chosen ones; build its tree
    NothingChosen, // nothing picked and nothing chosen yet ("Please Select Any Mailbox")
    AlreadyAdded, // the picked mailbox (or none) adds nothing new
};

class Session {
public:
    Session() = default;

    [[nodiscard]] Phase phase() const { return m_phase; }
    [[nodiscard]] bool running(Task t) const { return !m_tokens[index(t)].empty(); }
    // A command is allowed when the phase allows it and no running task forbids it.
    [[nodiscard]] bool allowed(Command c) const;

    // The store. openStore moves to Scanning (false, nothing changed, when Open is not allowed);
    // scanEnded moves on by how the scan ended. Opening another file forgets the last one's
    // mailboxes, ticks and conversions.
    bool openStore(std::string path);
    void scanEnded(ScanEnd how);
    // How the last scan ended (Complete before any ended).
    [[nodiscard]] ScanEnd lastScanEnd() const { return m_lastEnd; }
    void stopScan() { cancelTask(Task::Scan, StopReason::User); }
    [[nodiscard]] const std::string& storePath() const { return m_path; }

    // Mailboxes, by their place in the scan's mailbox list. A click only picks; Next adds the
    // picked mailbox, once: clicking around never locks a mailbox out.
    void pickMailbox(std::optional<std::size_t> mailbox) { m_picked = mailbox; }
    [[nodiscard]] std::optional<std::size_t> pickedMailbox() const { return m_picked; }
    [[nodiscard]] bool canAddPicked() const;
    NextOutcome next();
    [[nodiscard]] const std::vector<std::size_t>& chosenMailboxes() const { return m_chosen; }
    [[nodiscard]] bool isChosen(std::size_t mailbox) const;
    // The user-mailbox steps: step N shows the N-th chosen mailbox (1-based). Next raises the
    // step; Next/Back User Mailbox move it while the mailbox at the step exists.
    [[nodiscard]] std::int32_t step() const { return m_step; }
    [[nodiscard]] std::optional<std::size_t> mailboxAtStep(std::int32_t step) const;
    bool nextUserMailbox();
    bool backUserMailbox();

    // The folder tree's items as the window shows them, and the tick rules over them. Every
    // toggle recomputes the ticked folders; the items it returns are the ones to redraw.
    bool addTreeItem(ItemId item, ItemId parent, std::size_t folder);
    void clearTree();
    std::vector<ItemId> toggleTick(ItemId item);
    // After a conversion: the ticked items whose folder went to `destination` lose their tick
    // (their ancestors follow). Returns the items to redraw.
    std::vector<ItemId> untickConverted(const std::string& destination);
    [[nodiscard]] const FolderTicks& tree() const { return m_tree; }

    // Ticks, by folder index (the folder's place in the scan's folder list).
    void setTicked(std::size_t folder, bool on);
    void setTicked(const std::vector<std::size_t>& folders);
    [[nodiscard]] const std::set<std::size_t>& ticked() const { return m_ticked; }

    // Conversions, by folder and destination key ("eml:/out", "imap://user@host/"...).
    void markConverted(std::size_t folder, const std::string& destination);
    [[nodiscard]] bool isConverted(std::size_t folder) const;
    [[nodiscard]] bool convertedTo(std::size_t folder, const std::string& destination) const;
    // Of `folders`, those already converted to `destination` (ask before writing them again).
    [[nodiscard]] std::vector<std::size_t>
    alreadyConverted(const std::vector<std::size_t>& folders, const std::string& destination) const;

    // Tasks. startTask records the token of a new task of kind t; with `supersede`, the tasks of
    // that kind still running are cancelled as superseded (a newer listing replaces the last),
    // without it they go on beside it (each Next adds its own tree). finishTask forgets one
    // token. cancelAll is the one way the run ends its work: closing the window, Exit, Enter or
    // Esc.
    void startTask(Task t, std::shared_ptr<CancelToken> token, bool supersede = true);
    void finishTask(Task t, const std::shared_ptr<CancelToken>& token);
    void cancelTask(Task t, StopReason reason);
    void cancelAll(StopReason reason);
    // The newest running task of kind t, or null.
    [[nodiscard]] std::shared_ptr<CancelToken> token(Task t) const;

private:
    template <class E> static std::size_t index(E e) { return static_cast<std::size_t>(e); }
    void forgetStore();

    Phase m_phase = Phase::NoStore;
    ScanEnd m_lastEnd = ScanEnd::Complete;
    std::string m_path;
    std::optional<std::size_t> m_picked;
    std::vector<std::size_t> m_chosen;
    std::int32_t m_step = 0;
    std::set<std::size_t> m_ticked;
    FolderTicks m_tree;
    std::map<std::size_t, std::set<std::string>> m_converted;
    std::array<std::vector<std::shared_ptr<CancelToken>>, static_cast<std::size_t>(Task::Count)>
        m_tokens{};
};

} // namespace edb::session

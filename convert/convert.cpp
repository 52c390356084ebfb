#include "convert/convert.h"

#include "convert/render_pool.h"
#include "convert/run_record.h"

#include "mime/eml_writer.h"
#include "deliver/export_log.h"
#include "content/message_content.h"
#include "content/value_reader.h"
#include "frontend/unreadable_texts.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

std::string idKey(const FolderId& id) {
    return std::string(reinterpret_cast<const char*>(id.data()), id.size());
}

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

const std::string kInterrupted = "interrupted before it was written";
const std::string kNotTried = "not tried: an earlier error stopped the run";

// Messages are read and rendered on worker threads, up to kRenderAhead ahead, and written here
// strictly in order: names, files, the log and progress come out as a one-thread run makes them.
class Writer {
public:
    Writer(const StoreCatalog& catalog, const ConvertOptions& options, Destination& destination)
        : m_catalog(catalog), m_options(options), m_dest(destination),
          m_reader(catalog.storeFile, catalog.storeSize), m_pool(m_reader, RenderThreads()) {}

    ConvertSummary run(const std::vector<FolderPath>& folders) {
        indexMessages();
        std::vector<const FolderPath*> chosen;
        std::unordered_set<const FolderNode*> seen;
        std::size_t total = 0;
        for (const FolderPath& f : folders) {
            if (f.node != nullptr && seen.insert(f.node).second) {
                chosen.push_back(&f);
                total += messagesOf(*f.node).size();
            }
        }
        m_progress.total = total;
        noteRepeatedFolders(chosen);
        m_chosen = chosen;
        m_record = std::make_unique<RunRecord>(m_catalog, m_dest, m_options, chosen, m_summary);
        m_log.setHeading(m_record->logHeading());
        for (const std::string& note : m_record->killedRunNotes()) {
            m_log.addNote(note);
        }
        m_dest.noteInboxes(InboxFolders(m_catalog));
        m_dest.noteFolders(ListFolders(m_catalog));
        for (std::size_t fi = 0; fi < chosen.size(); ++fi) {
            const FolderPath* f = chosen[fi];
            const auto& messages = messagesOf(*f->node);
            if (m_summary.stopped) {
                failFolder(*f, messages.size(), "", false);
                recordRest(*f, 0, EntryState::Failed, kNotTried);
                continue;
            }
            if (cancelled()) {
                m_summary.cancelled = true;
                if (m_summary.interruptedIn.empty()) {
                    m_summary.interruptedIn = f->treePath;
                }
                m_summary.skipped += messages.size();
                recordRest(*f, 0, EntryState::Skipped, kInterrupted);
                continue;
            }
            writeFolder(fi, *f, messages);
        }
        dropAhead();
        m_record->finish(FinishOutputs(m_dest, m_summary));
        m_log.setOutcome(m_summary.cancelled ? "interrupted in " + m_summary.interruptedIn
                         : m_summary.stopped ? "stopped by an error; the rest was not tried"
                         : m_summary.failed > 0
                             ? "ended; " + std::to_string(m_summary.failed) + " message(s) failed"
                             : "complete");
        const auto logDir = m_dest.logDirectory();
        m_log.addNote(UnreadableLogText(m_catalog.storeFile.unreadable().list()));
        m_summary.logHasNotes = !m_log.empty();
        if (logDir) {
            try {
                m_summary.logPath = m_log.write(*logDir);
            } catch (const fs::filesystem_error& e) {
                // What it would have said is not lost: the caller shows it.
                m_summary.failures.push_back({"", kExportLogName, e.what()});
                m_summary.logFailed = true;
                m_summary.logText = m_log.text();
            }
        }
        report("");
        return std::move(m_summary);
    }

private:
    bool cancelled() const {
        return m_options.cancel != nullptr && m_options.cancel->load(std::memory_order_relaxed);
    }

    void report(const std::string& folder) {
        if (m_options.progress) {
            m_progress.folder = folder;
            m_options.progress(m_progress);
        }
    }

    // Folder records that share an id show the same messages; each copy after the first gets
    // its own number (in folder-list order, so stable from export to export) and a log line.
    void noteRepeatedFolders(const std::vector<const FolderPath*>& chosen) {
        std::unordered_map<std::string, std::vector<const FolderNode*>> byId;
        for (const FolderNode& node : m_catalog.folderList) {
            byId[idKey(node.id)].push_back(&node);
        }
        for (const FolderPath* f : chosen) {
            const auto& same = byId[idKey(f->node->id)];
            for (std::size_t i = 1; i < same.size(); ++i) {
                if (same[i] == f->node) {
                    m_folderCopy[f->node] = static_cast<std::uint32_t>(i);
                    m_log.addRepeatedFolder(f->treePath, PathOf(m_catalog, *same[0]).treePath,
                                            ToHex(f->node->id));
                }
            }
        }
    }

    void indexMessages() {
        std::uint64_t row = 0;
        for (const MessageEntry& m : m_catalog.messages) {
            m_byFolder[idKey(m.folderId)].push_back(&m);
            m_rows.emplace(&m, row++);
        }
    }

    // The manifest's entries for the messages of `f` from `from` on, none of them written.
    void recordRest(const FolderPath& f, std::size_t from, EntryState state,
                    const std::string& reason) {
        const auto& messages = messagesOf(*f.node);
        for (std::size_t i = from; i < messages.size(); ++i) {
            m_record->notWritten(f, messages[i]->messageId, m_rows[messages[i]], "", state,
                                 reason);
        }
    }

    const std::vector<const MessageEntry*>& messagesOf(const FolderNode& node) {
        static const std::vector<const MessageEntry*> kNone;
        const auto it = m_byFolder.find(idKey(node.id));
        return it == m_byFolder.end() ? kNone : it->second;
    }

    // `reason` empty: the folder was not tried because an earlier error stopped the run.
    void failFolder(const FolderPath& f, std::size_t count, const std::string& reason,
                    bool noteIt = true) {
        m_summary.failed += count;
        if (noteIt) {
            m_summary.failures.push_back({f.treePath, "", reason});
        }
        m_progress.done += count;
        report(f.treePath);
    }

    void stopRun(const FolderPath& f, std::size_t notTried) {
        m_summary.stopped = true;
        failFolder(f, notTried, "", false);
    }

    // Keeps the next kRenderAhead messages of the run (from the feed position on) rendering.
    void fillAhead() {
        while (m_ahead.size() < kRenderAhead && m_feedFolder < m_chosen.size()) {
            const FolderPath* f = m_chosen[m_feedFolder];
            const auto& messages = messagesOf(*f->node);
            if (m_feedMessage >= messages.size()) {
                ++m_feedFolder;
                m_feedMessage = 0;
                continue;
            }
            auto job = std::make_shared<Rendered>();
            job->snapshot = SnapshotMessage(m_catalog, *messages[m_feedMessage]);
            const auto repeat = m_folderCopy.find(f->node);
            job->snapshot.folderCopy = repeat == m_folderCopy.end() ? 0 : repeat->second;
            job->folder = f;
            job->folderIndex = m_feedFolder;
            job->messageIndex = m_feedMessage;
            job->row = m_rows[messages[m_feedMessage]];
            m_pool.submit(job);
            m_ahead.push_back(std::move(job));
            ++m_feedMessage;
        }
    }

    void dropAhead() {
        m_pool.dropQueued();
        m_ahead.clear();
    }

    // Message `mi` of chosen folder `fi`, rendered. Messages passed over (a folder that could
    // not be opened) are dropped on the way.
    std::shared_ptr<Rendered> takeRendered(std::size_t fi, std::size_t mi) {
        const auto before = [&](const Rendered& r) {
            return r.folderIndex < fi || (r.folderIndex == fi && r.messageIndex < mi);
        };
        while (!m_ahead.empty() && before(*m_ahead.front())) {
            m_ahead.pop_front();
        }
        if (m_ahead.empty() || m_ahead.front()->folderIndex != fi ||
            m_ahead.front()->messageIndex != mi) {
            dropAhead();
            m_feedFolder = fi;
            m_feedMessage = mi;
        }
        fillAhead();
        std::shared_ptr<Rendered> job = std::move(m_ahead.front());
        m_ahead.pop_front();
        m_pool.wait(*job);
        fillAhead();
        return job;
    }

    void writeFolder(std::size_t fi, const FolderPath& f,
                     const std::vector<const MessageEntry*>& messages) {
        report(f.treePath);
        if (!f.attached && messages.empty()) {
            // "Unattached folders" only when it holds something; nothing to write is complete.
            m_summary.savedFolders.push_back(
                {f.treePath, f.node, "", 0});
            return;
        }
        try {
            m_dest.openFolder(f);
        } catch (const DestinationError& e) {
            failFolder(f, messages.size(), e.what());
            recordRest(f, 0, EntryState::Failed, e.what());
            m_summary.stopped = e.fatal();
            return;
        } catch (const std::exception& e) {
            failFolder(f, messages.size(), e.what());
            recordRest(f, 0, EntryState::Failed, e.what());
            return;
        }
        std::size_t written = 0;
        std::size_t failedHere = 0;
        bool complete = true;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (cancelled()) {
                dropAhead();
                m_summary.cancelled = true;
                m_summary.interruptedIn = f.treePath;
                m_summary.skipped += messages.size() - i;
                recordRest(f, i, EntryState::Skipped, kInterrupted);
                complete = false;
                break;
            }
            const std::shared_ptr<Rendered> rendered = takeRendered(fi, i);
            const MessageSnapshot& copy = rendered->snapshot;
            std::string reason;
            bool fatal = false;
            const auto result = writeMessage(f, *rendered, reason, fatal);
            m_outcomes.push_back({result, copy.subject, copy.messageId, rendered->row,
                                  rendered->key, rendered->content.missing,
                                  result && *result != WriteResult::Pending ? m_dest.lastWritten()
                                                                            : "",
                                  reason,
                                  result && *result != WriteResult::Pending
                                      ? m_dest.lastFiles()
                                      : std::vector<ManifestFile>{}});
            account(f, false, written, failedHere);
            ++m_progress.done;
            report(f.treePath);
            if (fatal) {
                // What was written before still gets its place (an mbox is completed).
                dropAhead();
                account(f, true, written, failedHere);
                if (closeFolder(f, written)) {
                    m_summary.foldersWritten += written > 0 ? 1 : 0;
                }
                stopRun(f, messages.size() - i - 1);
                recordRest(f, i + 1, EntryState::Failed, kNotTried);
                return;
            }
        }
        account(f, true, written, failedHere);
        if (!closeFolder(f, written)) {
            return;
        }
        m_summary.foldersWritten += written > 0 ? 1 : 0;
        if (failedHere == 0 && complete) {
            m_summary.savedFolders.push_back({f.treePath, f.node, m_dest.folderLocation(), written});
        }
    }

    bool closeFolder(const FolderPath& f, std::size_t written) {
        try {
            m_dest.closeFolder();
            m_record->folderClosed({});
            return true;
        } catch (const std::exception& e) {
            m_record->folderClosed(e.what());
            // Nothing of the folder reached its place.
            m_summary.saved -= written;
            m_summary.failed += written;
            m_summary.failures.push_back({f.treePath, "", e.what()});
            return false;
        }
    }

    // Counts the messages whose outcome is known, in the run's order: a pending one once the
    // destination has it on the disk under its name (all of them with `all`), and those after
    // it only then, so the failures and the log keep the order of a run without waiting.
    void account(const FolderPath& f, bool all, std::size_t& written, std::size_t& failedHere) {
        const std::vector<Settled> settled = m_dest.settle(all);
        std::size_t next = 0;
        while (!m_outcomes.empty()) {
            Outcome& o = m_outcomes.front();
            if (o.result == WriteResult::Pending) {
                if (next == settled.size()) {
                    break;
                }
                const Settled& s = settled[next++];
                o.location = s.location;
                o.reason = s.error;
                o.files = s.files;
                o.result = s.error.empty() ? std::optional(WriteResult::Written) : std::nullopt;
            }
            if (!o.result) {
                ++m_summary.failed;
                ++failedHere;
                m_summary.failures.push_back({f.treePath, o.subject, o.reason});
                m_record->notWritten(f, o.messageId, o.row, o.key, EntryState::Failed, o.reason);
            } else {
                const bool fresh = *o.result == WriteResult::Written;
                m_summary.saved += fresh ? 1 : 0;
                m_summary.present += fresh ? 0 : 1;
                written += fresh ? 1 : 0;
                if (!o.missing.empty()) {
                    // A message an earlier run wrote keeps its line in the log that replaces
                    // that run's log.
                    m_summary.notes += fresh ? 1 : 0;
                    m_log.addMessage(o.location, ToHex(o.messageId), o.missing);
                }
                m_record->written(f, o.messageId, o.row, o.key, o.missing, o.files);
            }
            m_outcomes.pop_front();
        }
    }

    std::optional<WriteResult> writeMessage(const FolderPath& f, const Rendered& r,
                                            std::string& reason, bool& fatal) {
        const MessageSnapshot& m = r.snapshot;
        try {
            if (r.error) {
                std::rethrow_exception(r.error);
            }
            const bool contact = m.kind == kKindContact || f.node->kind == kKindContact;
            const OutgoingMessage out{m, r.eml, r.time, r.key, contact, &r.content};
            return m_dest.write(out);
        } catch (const FileError& e) {
            reason = "store read failed at " + hex(e.offset()) + ": " + e.reason();
        } catch (const DestinationError& e) {
            reason = e.what();
            fatal = e.fatal();
        } catch (const std::exception& e) {
            reason = e.what();
        }
        return std::nullopt;
    }

    const StoreCatalog& m_catalog;
    const ConvertOptions& m_options;
    Destination& m_dest;
    StoreReader m_reader;
    RenderPool m_pool; // after m_reader, which its workers use
    std::vector<const FolderPath*> m_chosen;
    std::deque<std::shared_ptr<Rendered>> m_ahead; // submitted, in the run's order
    std::size_t m_feedFolder = 0;                  // the next message to submit
    std::size_t m_feedMessage = 0;
    // A message written, waiting for its outcome to be counted (see account).
    struct Outcome {
        std::optional<WriteResult> result; // nothing: failed for `reason`
        std::string subject;
        FolderId messageId;
        std::uint64_t row = 0; // in the catalog's message list
        std::string key;
        std::vector<std::string> missing;
        std::string location; // as the log names it
        std::string reason;
        std::vector<ManifestFile> files; // for the manifest
    };
    std::deque<Outcome> m_outcomes;
    ConvertSummary m_summary;
    ConvertProgress m_progress;
    std::unordered_map<std::string, std::vector<const MessageEntry*>> m_byFolder;
    std::unordered_map<const FolderNode*, std::uint32_t> m_folderCopy;
    std::unordered_map<const MessageEntry*, std::uint64_t> m_rows;
    ExportLog m_log;
    std::unique_ptr<RunRecord> m_record;
};

} // namespace

ConvertSummary Convert(const StoreCatalog& catalog, const std::vector<FolderPath>& folders,
                       const ConvertOptions& options) {
    if (options.destination != nullptr) {
        return Writer(catalog, options, *options.destination).run(folders);
    }
    const auto files = MakeFileDestination(FileFormat::Eml, options.outDir);
    return Writer(catalog, options, *files).run(folders);
}

} // namespace edb::conv

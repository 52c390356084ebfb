#include "export/convert.h"

#include "export/eml_writer.h"
#include "export/export_log.h"
#include "export/message_content.h"
#include "export/value_reader.h"

#include <cstdio>
#include <optional>
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

class Writer {
public:
    Writer(const StoreCatalog& catalog, const ConvertOptions& options, Destination& destination)
        : m_catalog(catalog), m_options(options), m_dest(destination),
          m_reader(catalog.storeFile, catalog.storeSize) {}

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
        for (const FolderPath* f : chosen) {
            const auto& messages = messagesOf(*f->node);
            if (m_summary.stopped) {
                failFolder(*f, messages.size(), "", false);
                continue;
            }
            if (cancelled()) {
                m_summary.cancelled = true;
                m_summary.skipped += messages.size();
                continue;
            }
            writeFolder(*f, messages);
        }
        const auto logDir = m_dest.logDirectory();
        if (logDir && !m_log.empty()) {
            try {
                m_summary.logPath = m_log.write(*logDir);
            } catch (const fs::filesystem_error& e) {
                m_summary.failures.push_back({"", kExportLogName, e.what()});
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
        for (const MessageEntry& m : m_catalog.messages) {
            m_byFolder[idKey(m.folderId)].push_back(&m);
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

    void writeFolder(const FolderPath& f, const std::vector<const MessageEntry*>& messages) {
        report(f.treePath);
        try {
            m_dest.openFolder(f);
        } catch (const DestinationError& e) {
            failFolder(f, messages.size(), e.what());
            m_summary.stopped = e.fatal();
            return;
        } catch (const std::exception& e) {
            failFolder(f, messages.size(), e.what());
            return;
        }
        std::size_t written = 0;
        std::size_t failedHere = 0;
        bool complete = true;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (cancelled()) {
                m_summary.cancelled = true;
                m_summary.skipped += messages.size() - i;
                complete = false;
                break;
            }
            MessageSnapshot copy = SnapshotMessage(m_catalog, *messages[i]);
            const auto repeat = m_folderCopy.find(f.node);
            copy.folderCopy = repeat == m_folderCopy.end() ? 0 : repeat->second;
            std::string reason;
            bool fatal = false;
            const auto result = writeMessage(f, copy, reason, fatal);
            if (result) {
                if (*result == WriteResult::Written) {
                    ++m_summary.saved;
                    ++written;
                } else {
                    ++m_summary.present;
                }
            } else {
                ++m_summary.failed;
                ++failedHere;
                m_summary.failures.push_back({f.treePath, copy.subject, reason});
            }
            ++m_progress.done;
            report(f.treePath);
            if (fatal) {
                stopRun(f, messages.size() - i - 1);
                return;
            }
        }
        try {
            m_dest.closeFolder();
        } catch (const std::exception& e) {
            // Nothing of the folder reached its place.
            m_summary.saved -= written;
            m_summary.failed += written;
            m_summary.failures.push_back({f.treePath, "", e.what()});
            return;
        }
        if (failedHere == 0 && complete) {
            m_summary.savedFolders.push_back({f.treePath,
                                              f.node->treeItem.load(std::memory_order_relaxed),
                                              m_dest.folderLocation(), written});
        }
    }

    std::optional<WriteResult> writeMessage(const FolderPath& f, const MessageSnapshot& m,
                                            std::string& reason, bool& fatal) {
        try {
            const MessageContent content = ReadMessageContent(m_reader, m, f);
            const std::string eml = WriteEml(content.eml);
            const bool contact = m.kind == kKindContact || f.node->kind == kKindContact;
            const OutgoingMessage out{m, eml, MessageTime(eml, m.filetime), MessageKey(eml),
                                      contact};
            const WriteResult result = m_dest.write(out);
            if (result == WriteResult::Written && !content.missing.empty()) {
                ++m_summary.notes;
                m_log.addMessage(m_dest.lastWritten(), ToHex(m.messageId), content.missing);
            }
            return result;
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
    ConvertSummary m_summary;
    ConvertProgress m_progress;
    std::unordered_map<std::string, std::vector<const MessageEntry*>> m_byFolder;
    std::unordered_map<const FolderNode*, std::uint32_t> m_folderCopy;
    ExportLog m_log;
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

#include "export/convert.h"

#include "export/eml_writer.h"
#include "export/export_log.h"
#include "export/message_content.h"
#include "export/output_names.h"
#include "export/value_reader.h"
#include "export/vcard_writer.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
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
    Writer(const StoreCatalog& catalog, const ConvertOptions& options)
        : m_catalog(catalog), m_options(options), m_reader(catalog.storeFile, catalog.storeSize) {}

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
        std::error_code ec;
        fs::create_directories(m_options.outDir, ec);
        const bool rootOk = fs::is_directory(m_options.outDir, ec);
        for (const FolderPath* f : chosen) {
            const auto& messages = messagesOf(*f->node);
            if (cancelled()) {
                m_summary.cancelled = true;
                m_summary.skipped += messages.size();
                continue;
            }
            if (!rootOk) {
                failFolder(*f, messages.size(), "cannot create the output folder");
                continue;
            }
            writeFolder(*f, messages);
        }
        if (rootOk && !m_log.empty()) {
            try {
                m_summary.logPath = m_log.write(m_options.outDir);
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

    void failFolder(const FolderPath& f, std::size_t count, const std::string& reason) {
        m_summary.failed += count;
        m_summary.failures.push_back({f.treePath, "", reason});
        m_progress.done += count;
        report(f.treePath);
    }

    fs::path directoryFor(const FolderPath& f) {
        fs::path dir = m_options.outDir;
        std::vector<std::string> names = f.names;
        if (!f.attached) {
            names.insert(names.begin(), kUnattachedFolderName);
        }
        for (const std::string& name : names) {
            const std::string key = dir.string() + '\0' + name;
            const auto it = m_dirs.find(key);
            if (it != m_dirs.end()) {
                dir = it->second;
                continue;
            }
            const fs::path child = MakeChildDirectory(dir, name, m_namers[dir.string()]);
            m_dirs.emplace(key, child);
            dir = child;
        }
        return dir;
    }

    void writeFolder(const FolderPath& f, const std::vector<const MessageEntry*>& messages) {
        report(f.treePath);
        fs::path dir;
        try {
            dir = directoryFor(f);
        } catch (const fs::filesystem_error& e) {
            failFolder(f, messages.size(), e.what());
            return;
        }
        if (!IsInside(m_options.outDir, dir)) {
            failFolder(f, messages.size(), "folder path leaves the output folder");
            return;
        }
        std::size_t written = 0;
        std::size_t failedHere = 0;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (cancelled()) {
                m_summary.cancelled = true;
                m_summary.skipped += messages.size() - i;
                return;
            }
            MessageSnapshot copy = SnapshotMessage(m_catalog, *messages[i]);
            const auto repeat = m_folderCopy.find(f.node);
            copy.folderCopy = repeat == m_folderCopy.end() ? 0 : repeat->second;
            std::string reason;
            if (writeMessage(f, dir, copy, reason)) {
                ++m_summary.saved;
                ++written;
            } else {
                ++m_summary.failed;
                ++failedHere;
                m_summary.failures.push_back({f.treePath, copy.subject, reason});
            }
            ++m_progress.done;
            report(f.treePath);
        }
        if (failedHere == 0) {
            m_summary.savedFolders.push_back(
                {f.treePath, f.node->treeItem.load(std::memory_order_relaxed), dir, written});
        }
    }

    bool writeMessage(const FolderPath& f, const fs::path& dir, const MessageSnapshot& m,
                      std::string& reason) {
        try {
            const MessageContent content = ReadMessageContent(m_reader, m, f);
            const std::vector<std::string>& notes = content.notes;
            const std::string eml = WriteEml(content.eml);
            UniqueNamer& namer = m_namers[dir.string()];
            const std::string stem = SanitizeName(m.subject, "(no subject)");
            const fs::path written = WriteNewFile(dir, stem, ".eml", eml, namer);
            if (!notes.empty()) {
                ++m_summary.notes;
            }
            if (!content.missing.empty()) {
                m_log.addMessage(written.lexically_relative(m_options.outDir).generic_string(),
                                 ToHex(m.messageId), content.missing);
            }
            if (m.kind == kKindContact || f.node->kind == kKindContact) {
                for (const ContactEntry& c : m.contacts) {
                    const std::string name = c.fullName.empty() ? m.subject : c.fullName;
                    (void)WriteNewFile(dir, SanitizeName(name, "(no name)"), ".vcf", WriteVCard(c),
                                       namer);
                }
            }
            return true;
        } catch (const FileError& e) {
            reason = "store read failed at " + hex(e.offset()) + ": " + e.reason();
        } catch (const fs::filesystem_error& e) {
            reason = e.what();
        } catch (const std::exception& e) {
            reason = e.what();
        }
        return false;
    }

    const StoreCatalog& m_catalog;
    const ConvertOptions& m_options;
    StoreReader m_reader;
    ConvertSummary m_summary;
    ConvertProgress m_progress;
    std::unordered_map<std::string, std::vector<const MessageEntry*>> m_byFolder;
    std::map<std::string, UniqueNamer> m_namers; // per directory
    std::map<std::string, fs::path> m_dirs;      // (parent, store name) -> directory made
    std::unordered_map<const FolderNode*, std::uint32_t> m_folderCopy;
    ExportLog m_log;
};

} // namespace

ConvertSummary Convert(const StoreCatalog& catalog, const std::vector<FolderPath>& folders,
                       const ConvertOptions& options) {
    return Writer(catalog, options).run(folders);
}

} // namespace edb::conv

#include "export/convert.h"

#include "export/eml_writer.h"
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

constexpr std::size_t kMaxTracedChunks = 8;

std::string idKey(const FolderId& id) {
    return std::string(reinterpret_cast<const char*>(id.data()), id.size());
}

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

struct AttachmentCopy {
    std::string name;
    ValueLocation location;
};

// What one message needs, copied under the message list's lock.
struct MessageCopy {
    FolderId messageId{};
    FolderId folderId{};
    std::string subject;
    std::string sender;
    char kind = 0;
    std::uint64_t filetime = 0;
    ValueLocation primary;
    ValueLocation formatted;
    std::vector<AttachmentCopy> attachments;
    std::vector<ContactEntry> contacts;
};

MessageCopy copyMessage(const MessageEntry& m) {
    MessageCopy c;
    c.messageId = m.messageId;
    c.folderId = m.folderId;
    c.subject = m.subject;
    c.sender = m.sender;
    c.kind = m.kind;
    c.filetime = m.filetime;
    c.primary = CopyLocator(m.primaryBody);
    c.formatted = CopyLocator(m.formattedBody);
    for (const AttachmentEntry& a : m.attachments) {
        c.attachments.push_back({a.name, CopyLocator(a)});
    }
    c.contacts = m.contacts;
    return c;
}

std::string traceLocation(const ValueLocation& l) {
    if (l.position != 0) {
        return "inline at " + hex(l.position) + ", " + std::to_string(l.size) + " bytes";
    }
    if (!l.reference) {
        return "none";
    }
    std::string s = "long value " + hex(*l.reference);
    if (l.chunks.empty()) {
        return s + ", no chunk found";
    }
    s += ", chunks at";
    for (std::size_t i = 0; i < l.chunks.size() && i < kMaxTracedChunks; ++i) {
        s += " " + hex(l.chunks[i]);
    }
    if (l.chunks.size() > kMaxTracedChunks) {
        s += " and " + std::to_string(l.chunks.size() - kMaxTracedChunks) + " more";
    }
    return s;
}

// Header values stay ASCII: anything else in a note is replaced.
std::string asciiOnly(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(b >= 0x20 && b < 0x7F ? c : '?');
    }
    return out;
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
            MessageCopy copy;
            {
                std::shared_lock lock(m_catalog.messages.fieldsMutex);
                copy = copyMessage(*messages[i]);
            }
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

    bool writeMessage(const FolderPath& f, const fs::path& dir, const MessageCopy& m,
                      std::string& reason) {
        try {
            EmlInput in;
            std::vector<std::string> notes;
            buildInput(m, in, notes);
            const std::string eml = WriteEml(in);
            UniqueNamer& namer = m_namers[dir.string()];
            const std::string stem = SanitizeName(m.subject, "(no subject)");
            const fs::path written = WriteNewFile(dir, stem, ".eml", eml, namer);
            if (!notes.empty()) {
                ++m_summary.notes;
            }
            if (m.kind == kKindContact || f.node->kind == kKindContact) {
                for (const ContactEntry& c : m.contacts) {
                    const std::string name = c.fullName.empty() ? m.subject : c.fullName;
                    (void)WriteNewFile(dir, SanitizeName(name, "(no name)"), ".vcf", WriteVCard(c),
                                       namer);
                }
            }
            (void)written;
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

    void buildInput(const MessageCopy& m, EmlInput& in, std::vector<std::string>& notes) {
        in.sender = m.sender;
        in.subject = m.subject;
        in.filetime = m.filetime;
        in.traceHeaders.emplace_back("X-Edb-Message-Id", ToHex(m.messageId));
        in.traceHeaders.emplace_back("X-Edb-Folder-Id", ToHex(m.folderId));
        in.traceHeaders.emplace_back("X-Edb-Plain-Body", traceLocation(m.primary));
        in.traceHeaders.emplace_back("X-Edb-Formatted-Body", traceLocation(m.formatted));

        const TextBody plain = ReadPrimaryBody(m_reader, m.primary);
        if (plain.found) {
            in.plainText = plain.text;
        }
        if (!plain.note.empty()) {
            notes.push_back("plain body: " + plain.note);
        }
        FormattedBody formatted = ReadFormattedBody(m_reader, m.formatted);
        switch (formatted.kind) {
        case FormattedBody::Kind::Html:
            in.html = std::move(formatted.data);
            break;
        case FormattedBody::Kind::Text:
            if (!in.plainText) {
                in.plainText = std::move(formatted.data);
            }
            break;
        case FormattedBody::Kind::Rtf:
            in.rtf = std::move(formatted.data);
            break;
        case FormattedBody::Kind::None:
            break;
        }
        if (!formatted.note.empty()) {
            notes.push_back("formatted body: " + formatted.note);
        }
        for (std::size_t i = 0; i < m.attachments.size(); ++i) {
            const AttachmentCopy& a = m.attachments[i];
            in.traceHeaders.emplace_back("X-Edb-Attachment",
                                         std::to_string(i + 1) + ": " + traceLocation(a.location));
            AttachmentData data = ReadAttachmentData(m_reader, a.location);
            if (!data.note.empty()) {
                notes.push_back("attachment " + std::to_string(i + 1) + ": " + data.note);
            }
            if (data.found) {
                in.attachments.push_back({a.name, std::move(data.bytes)});
            }
        }
        if (!in.plainText && !in.html && !in.rtf) {
            notes.push_back("no body in the store file");
        }
        for (const std::string& n : notes) {
            in.traceHeaders.emplace_back("X-Edb-Note", asciiOnly(n));
        }
    }

    const StoreCatalog& m_catalog;
    const ConvertOptions& m_options;
    StoreReader m_reader;
    ConvertSummary m_summary;
    ConvertProgress m_progress;
    std::unordered_map<std::string, std::vector<const MessageEntry*>> m_byFolder;
    std::map<std::string, UniqueNamer> m_namers; // per directory
    std::map<std::string, fs::path> m_dirs;      // (parent, store name) -> directory made
};

} // namespace

FolderPath PathOf(const StoreCatalog& catalog, const FolderNode& folder) {
    FolderPath p;
    p.node = &folder;
    std::vector<std::string> reversed{folder.name};
    std::unordered_set<std::string> visited{idKey(folder.id)};
    FolderId current = folder.parentId;
    // Each step either ends the walk or visits a new id, so a loop in damaged data ends.
    while (!IsZero(current)) {
        const std::string key = idKey(current);
        const FolderNode* mailbox = nullptr;
        for (const FolderList* list : {&catalog.mailboxList, &catalog.chosenMailboxList}) {
            for (const FolderNode& n : *list) {
                if (n.id == current) {
                    mailbox = &n;
                    break;
                }
            }
            if (mailbox != nullptr) {
                break;
            }
        }
        if (mailbox != nullptr) {
            reversed.push_back(mailbox->name);
            p.attached = true;
            break;
        }
        if (!visited.insert(key).second) {
            break;
        }
        const FolderNode* parent = nullptr;
        for (const FolderNode& n : catalog.folderList) {
            if (n.id == current) {
                parent = &n;
                break;
            }
        }
        if (parent == nullptr) {
            break;
        }
        reversed.push_back(parent->name);
        if (parent->isMailbox()) {
            p.attached = true;
            break;
        }
        current = parent->parentId;
    }
    p.names.assign(reversed.rbegin(), reversed.rend());
    for (const std::string& n : p.names) {
        p.treePath += n;
        p.treePath += '\\';
    }
    return p;
}

std::vector<FolderPath> ListFolders(const StoreCatalog& catalog) {
    std::vector<FolderPath> out;
    for (const FolderNode& n : catalog.folderList) {
        out.push_back(PathOf(catalog, n));
    }
    return out;
}

std::vector<FolderPath> SelectFolders(const std::vector<FolderPath>& all,
                                      const std::vector<std::string>& paths,
                                      std::vector<std::string>* unknown) {
    std::vector<bool> take(all.size(), false);
    for (std::string path : paths) {
        const std::string asGiven = path;
        if (path.empty() || path.back() != '\\') {
            path += '\\';
        }
        bool any = false;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].treePath.starts_with(path)) {
                take[i] = true;
                any = true;
            }
        }
        if (!any && unknown != nullptr) {
            unknown->push_back(asGiven);
        }
    }
    std::vector<FolderPath> out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (take[i]) {
            out.push_back(all[i]);
        }
    }
    return out;
}

ConvertSummary Convert(const StoreCatalog& catalog, const std::vector<FolderPath>& folders,
                       const ConvertOptions& options) {
    return Writer(catalog, options).run(folders);
}

} // namespace edb::conv

// PST destination: one Unicode PST per mailbox, the mailbox's folders under the top of the
// personal folders. A PST cannot be extended message by message the way an mbox can, so a rerun
// writes the mailbox's file again and says so.
#include "deliver/destination.h"
#include "deliver/output_file.h"
#include "deliver/output_names.h"
#include "deliver/sha256.h"
#include "pst/mapi_tags.h"
#include "pst/pst_writer.h"

#include <map>
#include <memory>
#include <set>
#include <system_error>

namespace edb::conv {
namespace fs = std::filesystem;

namespace {

// The compressed-RTF container in its stored form ("MELA"): the RTF as it is, without a CRC.
pst::Bytes StoredRtf(const std::string& rtf) {
    pst::Bytes b;
    pst::AppendU32(b, static_cast<std::uint32_t>(rtf.size() + 12));
    pst::AppendU32(b, static_cast<std::uint32_t>(rtf.size()));
    pst::AppendU32(b, 0x414C454D);
    pst::AppendU32(b, 0);
    b.insert(b.end(), rtf.begin(), rtf.end());
    return b;
}

pst::FolderKind FolderKindOf(const FolderNode* node, const std::string& name) {
    if (node != nullptr && node->kind == kKindContact) {
        return pst::FolderKind::Contacts;
    }
    if (node != nullptr && node->kind == kKindAppointment) {
        return pst::FolderKind::Calendar;
    }
    if (name == "Tasks") {
        return pst::FolderKind::Tasks;
    }
    if (name == "Notes") {
        return pst::FolderKind::Notes;
    }
    if (name == "Journal") {
        return pst::FolderKind::Journal;
    }
    return pst::FolderKind::Mail;
}

void AddContact(pst::Message& m, const ContactEntry& c) {
    namespace tag = pst::tag;
    m.messageClass = "IPM.Contact";
    const std::pair<std::uint32_t, const std::string*> fields[] = {
        {tag::kDisplayName, &c.fullName},
        {tag::kFileUnder, &c.fullName},
        {tag::kGivenName, &c.firstName},
        {tag::kSurname, &c.lastName},
        {tag::kHomeTelephoneNumber, &c.homePhone},
        {tag::kBusinessTelephoneNumber, &c.businessPhone},
        {tag::kMobileTelephoneNumber, &c.mobilePhone},
        {tag::kWorkAddress, &c.businessAddress},
        {tag::kPostalAddress, &c.businessAddress},
        {tag::kEmail1Address, &c.emailAddress},
        {tag::kEmail1OriginalDisplayName, &c.emailAddress},
    };
    for (const auto& [t, v] : fields) {
        if (!v->empty()) {
            m.extra.setString(t, *v);
        }
    }
    if (!c.emailAddress.empty()) {
        m.extra.setString(tag::kEmail1AddressType, "SMTP");
        m.extra.setString(tag::kEmail1DisplayName,
                          c.fullName.empty() ? c.emailAddress
                                             : c.fullName + " (" + c.emailAddress + ")");
    }
    if (m.subject.empty()) {
        m.subject = c.fullName;
    }
}

pst::Message ToPst(const OutgoingMessage& out) {
    const EmlInput& in = out.content->eml;
    pst::Message m;
    m.subject = in.subject;
    m.senderName = in.from.name.empty() ? in.sender : in.from.name;
    m.senderAddress = in.from.address;
    for (const EmlAddress& a : in.to) {
        m.recipients.push_back({a.name, a.address, 1});
    }
    if (FiletimeToUnix(in.filetime)) {
        m.submitTime = m.deliveryTime = m.creationTime = m.modificationTime = in.filetime;
    }
    m.body = in.plainText;
    m.html = in.html;
    if (const auto& stream = out.content->rtfCompressed) {
        m.rtfCompressed = pst::Bytes(stream->begin(), stream->end()); // as the store holds it
    } else if (in.rtf) {
        m.rtfCompressed = StoredRtf(*in.rtf);
    }
    if (!in.messageId.empty()) {
        m.internetMessageId = "<" + in.messageId + ">";
    }
    for (const EmlAttachment& a : in.attachments) {
        m.attachments.push_back({a.name, a.bytes, a.type, ""});
    }
    if (out.contact && !out.snapshot.contacts.empty()) {
        AddContact(m, out.snapshot.contacts.front());
    } else if (out.contact) {
        m.messageClass = "IPM.Contact";
    }
    return m;
}

// A PST file of ours from an earlier run: the PST magic at its start.
bool IsOurPst(const fs::path& p) {
    std::string head;
    return ReadFileStart(p, 4, head) && head == "!BDN";
}

class PstDestination final : public Destination {
public:
    PstDestination(fs::path root, bool sync) : m_root(std::move(root)), m_sync(sync) {}

    ~PstDestination() override {
        for (auto& [name, s] : m_stores) {
            discard(s);
        }
    }

    void openFolder(const FolderPath& f) override {
        EnsureDirectory(m_root);
        std::vector<std::string> names = f.names;
        if (!f.attached || names.empty()) {
            names.insert(names.begin(), kUnattachedFolderName);
        }
        Store* next = &store(names[0]);
        if (m_store != nullptr && m_store != next && m_store->writer) {
            // One PST open at a time, however many mailboxes the store holds.
            try {
                m_store->writer->park();
            } catch (const pst::PstError& e) {
                fail(*m_store, e.what());
            }
        }
        m_store = next;
        if (!m_store->writer) {
            throw DestinationError(m_store->target.string() + ": " + m_store->failure, false);
        }
        std::uint32_t nid = pst::PstWriter::topFolder();
        std::string path;
        for (std::size_t i = 1; i < names.size(); ++i) {
            path += '\\' + names[i];
            const bool last = i + 1 == names.size();
            auto it = m_store->folders.find(path);
            // A folder met again after it was closed (carving found it twice) gets a twin.
            if (it == m_store->folders.end() || (last && m_store->closed.count(it->second) != 0)) {
                const std::uint32_t made = m_store->writer->addFolder(
                    nid, names[i], FolderKindOf(last ? f.node : nullptr, names[i]));
                if (i == 1 && names[i] == "Deleted Items") {
                    m_store->writer->setDeletedItems(made);
                }
                it = m_store->folders.insert_or_assign(path, made).first;
            }
            nid = it->second;
        }
        m_folder = nid;
        m_location = m_store->target.string();
        m_path = names[0] + path;
    }

    WriteResult write(const OutgoingMessage& m) override {
        if (m_store == nullptr || m.content == nullptr) {
            throw DestinationError("no PST is open for this message", false);
        }
        if (!m_store->writer) {
            throw DestinationError(m_store->target.string() + ": " + m_store->failure, false);
        }
        try {
            m_store->writer->addMessage(m_folder, ToPst(m));
        } catch (const pst::PstError& e) {
            fail(*m_store, e.what());
            throw DestinationError(e.what(), false);
        }
        ++m_store->messages;
        m_last = m_store->target.filename().string() + ": " + m_path;
        // Hashed when the file is complete (finish()).
        m_lastFiles = {{RelativeName(m_root, m_store->target), "", 0, std::nullopt}};
        return WriteResult::Written;
    }

    void closeFolder() override {
        if (m_store != nullptr && m_store->writer) {
            try {
                m_store->writer->closeFolder(m_folder);
            } catch (const pst::PstError& e) {
                fail(*m_store, e.what());
            }
            m_store->closed.insert(m_folder);
        }
    }

    FinishResult finish() override {
        FinishResult result;
        for (auto& [name, s] : m_stores) {
            if (s.writer) {
                try {
                    s.writer->finish();
                    s.writer.reset();
                    commit(s, result);
                    continue;
                } catch (const std::exception& e) {
                    fail(s, e.what());
                }
            }
            result.failed.push_back({s.target.string(), s.messages, s.failure});
        }
        return result;
    }

    std::string folderLocation() const override { return m_location; }
    std::string lastWritten() const override { return m_last; }
    std::optional<fs::path> logDirectory() const override { return m_root; }
    std::vector<ManifestFile> lastFiles() const override { return m_lastFiles; }
    bool placedAtFinish() const override { return true; }
    std::string formatName() const override { return "pst"; }

private:
    struct Store {
        std::unique_ptr<pst::PstWriter> writer;
        fs::path temp;
        fs::path target;
        std::map<std::string, std::uint32_t> folders; // folder path below the mailbox -> node
        std::set<std::uint32_t> closed;
        std::size_t messages = 0;
        std::string failure;
    };

    Store& store(const std::string& mailbox) {
        const auto it = m_stores.find(mailbox);
        if (it != m_stores.end()) {
            return it->second;
        }
        Store& s = m_stores[mailbox];
        // A name that something other than an earlier PST of ours holds is passed over.
        for (int tries = 0; tries < 10000 && s.target.empty(); ++tries) {
            const std::string file = m_namer.next(SanitizeName(mailbox), ".pst");
            const fs::path p = m_root / Utf8Path(file);
            const EntryKind kind = KindOf(p);
            if (kind == EntryKind::Missing || (kind == EntryKind::Regular && IsOurPst(p))) {
                s.target = p;
                s.temp = m_root / Utf8Path("." + file + ".partial");
            }
        }
        if (s.target.empty()) {
            s.failure = "no free file name";
            return s;
        }
        try {
            s.writer = std::make_unique<pst::PstWriter>(s.temp, mailbox);
        } catch (const pst::PstError& e) {
            fail(s, e.what());
        }
        return s;
    }

    void fail(Store& s, const std::string& why) {
        s.failure = why;
        discard(s);
    }

    static void discard(Store& s) {
        s.writer.reset();
        std::error_code ec;
        if (!s.temp.empty()) {
            fs::remove(s.temp, ec);
        }
    }

    void commit(Store& s, FinishResult& result) {
        const auto failed = [&](const std::string& why) {
            fail(s, why);
            result.failed.push_back({s.target.string(), s.messages, s.failure});
        };
        try {
            if (m_sync) {
                FlushToDisk(s.temp); // the data on the disk before the name points at it
            }
        } catch (const fs::filesystem_error& e) {
            return failed(e.what());
        }
        // An earlier PST of ours is replaced in one step: it stays whole until the new one
        // takes its place. Any other file under the name was passed over when it was chosen.
        const bool again = KindOf(s.target) == EntryKind::Regular && IsOurPst(s.target);
        std::error_code ec;
        if (again) {
            fs::rename(s.temp, s.target, ec);
        } else if (!MoveNoReplace(s.temp, s.target)) {
            ec = std::error_code(errno, std::generic_category());
        }
        if (ec) {
            return failed("cannot be given its name: " + ec.message());
        }
        try {
            if (m_sync) {
                FlushToDisk(m_root);
            }
        } catch (const fs::filesystem_error& e) {
            return failed(e.what());
        }
        if (again) {
            result.remarks.push_back(s.target.string() +
                                     ": an earlier export's PST of this mailbox was written again");
        }
        ManifestFile file{RelativeName(m_root, s.target), "", 0, std::nullopt};
        std::error_code size;
        file.size = fs::file_size(s.target, size);
        if (!Sha256OfFile(s.target, file.sha256) || size) {
            // The file is in place; only its record lacks the hash, and the user is told.
            file.sha256.clear();
            result.remarks.push_back(s.target.string() +
                                     ": could not be read back to record its SHA-256");
        }
        result.files.push_back(std::move(file));
    }

    fs::path m_root;
    bool m_sync;
    std::map<std::string, Store> m_stores; // by mailbox name
    UniqueNamer m_namer;
    Store* m_store = nullptr;
    std::uint32_t m_folder = 0;
    std::string m_location;
    std::string m_path;
    std::string m_last;
    std::vector<ManifestFile> m_lastFiles;
};

} // namespace

std::unique_ptr<Destination> MakePstDestination(const fs::path& root, bool sync) {
    return std::make_unique<PstDestination>(root, sync);
}

} // namespace edb::conv

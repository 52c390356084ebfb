#include "tests/support/bench_store.h"

#include "tests/support/contents_records.h"
#include "tests/support/discovery_records.h"
#include "tests/support/lzfu_writer.h"
#include "tests/support/properties_records.h"
#include "tests/support/store_builder.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <string>
#include <vector>

namespace edbtest {

namespace {

// 2003-02-13 09:55:06 UTC.
constexpr std::uint64_t kBaseTime = 0x01C2D345FC5DB900ULL;
constexpr std::uint64_t kSecond = 10000000ULL;
constexpr std::size_t kMessagesPerMailbox = 2000;
constexpr std::size_t kFlushPages = 2048; // 8 MiB held at most between flushes, roughly

// splitmix64: fast, seedable, and the same on every platform (std:: distributions are not).
class Rng {
public:
    explicit Rng(std::uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    bool chance(unsigned percent) { return below(100) < percent; }
    void fill(std::uint8_t* out, std::size_t n) {
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            const std::uint64_t v = next();
            std::memcpy(out + i, &v, 8);
        }
        for (; i < n; ++i) {
            out[i] = static_cast<std::uint8_t>(next());
        }
    }

private:
    std::uint64_t m_state;
};

const char* const kSenders[] = {"Ann Smith",   "Bob Jones",    "Carla Nunez",   "Dmitri Ivanov",
                                "Eve Martin",  "Frank O'Neil", "Grete Mueller", "Hiro Tanaka",
                                "Ines Duarte", "Jon Berg"};
const char* const kTopics[] = {"Quarterly report",    "Lunch on Friday?", "Server migration plan",
                               "Invoice 2003-117",    "Team offsite",     "Budget review",
                               "Backup schedule",     "Welcome aboard",   "Meeting minutes",
                               "Travel arrangements", "Contract draft",   "Weekly status"};
const char* const kFirstNames[] = {"Alice", "Boris", "Chen", "Dana", "Emil", "Fatima"};
const char* const kLastNames[] = {"Archer", "Baker", "Cole", "Dunn", "Ellis", "Frost"};

struct FolderPlan {
    Id8 id;
    Id8 parent;
    std::u16string name;
    std::u16string containerClass;
    std::uint32_t tableObject;
    unsigned weight; // share of the mailbox's messages
};

class Generator {
public:
    Generator(std::ostream& out, std::uint64_t seed, std::uint64_t targetPages,
              std::uint64_t messages, BenchShape shape)
        : m_out(out), m_rng(seed), m_targetPages(targetPages), m_messages(messages),
          m_chains(shape == BenchShape::Chains), m_users(shape == BenchShape::Users) {}

    BenchStoreSummary run() {
        m_store.addPage(0); // the file header page
        const std::size_t mailboxCount =
            std::max<std::size_t>(1, (m_messages + kMessagesPerMailbox - 1) / kMessagesPerMailbox);
        std::vector<std::pair<Id8, std::u16string>> mailboxes;
        for (std::size_t i = 0; i < mailboxCount; ++i) {
            mailboxes.emplace_back(
                makeId(0x100000 + i * 0x100),
                toUtf16(std::string(kSenders[i % 10]) + " " + std::to_string(i + 1)));
        }
        writeMailboxes(mailboxes);
        std::vector<FolderPlan> folders = planFolders(mailboxes);
        writeFolders(folders);
        flush();

        // Messages of each mailbox spread over its folders by weight.
        std::size_t done = 0;
        const std::size_t perMailboxFolders = folders.size() / mailboxCount;
        for (std::size_t mb = 0; mb < mailboxCount; ++mb) {
            const std::size_t mine =
                (m_messages * (mb + 1)) / mailboxCount - (m_messages * mb) / mailboxCount;
            unsigned total = 0;
            for (std::size_t f = 0; f < perMailboxFolders; ++f) {
                total += folders[mb * perMailboxFolders + f].weight;
            }
            std::size_t given = 0;
            for (std::size_t f = 0; f < perMailboxFolders; ++f) {
                const FolderPlan& plan = folders[mb * perMailboxFolders + f];
                std::size_t count = mine * plan.weight / total;
                if (f + 1 == perMailboxFolders) {
                    count = mine - given;
                }
                given += count;
                writeFolderBatch(plan, count, done);
                done += count;
            }
        }
        while (m_store.pageCount() < m_targetPages) {
            addNoisePage();
            flushIfLarge();
        }
        flush();
        return BenchStoreSummary{m_store.pageCount(), m_dataPages, done};
    }

private:
    void flush() { m_store.flushTo(m_out); }
    void flushIfLarge() {
        if (m_store.pageCount() - m_flushedAt >= kFlushPages) {
            flush();
            m_flushedAt = m_store.pageCount();
        }
    }

    void writeMailboxes(const std::vector<std::pair<Id8, std::u16string>>& mailboxes) {
        std::size_t i = 0;
        while (i < mailboxes.size()) {
            Page& page = m_store.page(m_store.addPage(21));
            ++m_dataPages;
            std::size_t at = 60;
            while (i < mailboxes.size() && at + 120 + 2 * mailboxes[i].second.size() < kPage) {
                at = writeMailboxRecord(page, at, i % 2 == 0 ? 1 : 2, mailboxes[i].first,
                                        mailboxes[i].second) +
                     20;
                ++i;
            }
        }
    }

    std::vector<FolderPlan> planFolders(const std::vector<std::pair<Id8, std::u16string>>& mbs) {
        std::vector<FolderPlan> folders;
        std::uint64_t nextId = 1;
        for (const auto& [mbId, name] : mbs) {
            auto add = [&](const Id8& parent, std::u16string n, std::u16string cls,
                           unsigned weight) {
                const Id8 id = makeId(0x40000000ULL + nextId++);
                folders.push_back(
                    {id, parent, std::move(n), std::move(cls), m_nextObject++, weight});
                return id;
            };
            const Id8 inbox = add(mbId, u"Inbox", u"IPF.Note", 40);
            add(mbId, u"Sent Items", u"IPF.Note", 15);
            add(mbId, u"Deleted Items", u"IPF.Note", 10);
            add(mbId, u"Drafts", u"IPF.Note", 2);
            add(mbId, u"Calendar", u"IPF.Appointment", 5);
            add(mbId, u"Contacts", u"IPF.Contact", 5);
            add(mbId, u"Tasks", u"IPF.Task", 2);
            const Id8 projects = add(inbox, u"Projects", u"IPF.Note", 6);
            const Id8 year = add(projects, u"2003", u"IPF.Note", 5);
            const Id8 quarter = add(year, u"Q1", u"IPF.Note", 4);
            add(quarter, u"Customers", u"IPF.Note", 3);
            add(inbox, u"Newsletters", u"IPF.Note", 3);
        }
        return folders;
    }

    void writeFolders(const std::vector<FolderPlan>& folders) {
        std::vector<FolderRecordSpec> records;
        for (const auto& f : folders) {
            records.push_back({f.id, f.parent, f.name, f.containerClass});
        }
        // Shuffled: subfolders standing before their parents are found in later sweeps.
        for (std::size_t i = records.size(); i > 1; --i) {
            std::swap(records[i - 1], records[m_rng.below(i)]);
        }
        const std::size_t before = m_store.pageCount();
        addFolderPages(m_store, records);
        m_dataPages += m_store.pageCount() - before;
    }

    // Noise until the file has kept pace with the messages written so far.
    void catchUp(std::size_t messagesDone) {
        const std::uint64_t want =
            m_targetPages * messagesDone / std::max<std::uint64_t>(1, m_messages);
        while (m_store.pageCount() < want) {
            addNoisePage();
        }
    }

    void addNoisePage() {
        const std::size_t kind = m_rng.below(1000);
        std::uint32_t owner = 0;
        if (kind < 6) {
            // A page of a scanned owner that holds nothing the scan can use.
            static constexpr std::uint32_t kScanned[] = {2, 8, 19, 21, 61, 106};
            owner = kScanned[kind];
        } else {
            do {
                owner = 200 + static_cast<std::uint32_t>(m_rng.below(20000));
            } while (owner == kDefaultLongValueOwner);
        }
        Page& page = m_store.page(m_store.addPage(owner));
        auto& b = page.bytes();
        // Header-like fields, then random bytes over a random share of the page, zeros after
        // (real pages are often partly empty).
        const std::size_t used = 64 + m_rng.below(kPage - 64);
        m_rng.fill(b.data() + 28, used - 28);
        if (kind < 6) {
            page.owner(owner);
        }
        page.u32le(16, static_cast<std::uint32_t>(m_rng.next()));
        page.u32le(20, static_cast<std::uint32_t>(m_rng.next()));
    }

    std::uint16_t nextReference() {
        if (m_reference == 0xFFFF) {
            m_reference = 0;
        }
        return ++m_reference;
    }

    void writeFolderBatch(const FolderPlan& folder, std::size_t count, std::size_t doneBefore) {
        const bool contacts = folder.containerClass == u"IPF.Contact";
        RecordPacker properties(m_store, kPropertiesOwner);
        RecordPacker attachments(m_store, kAttachmentOwner);
        std::vector<MessageSpec> messages;
        messages.reserve(count);
        const std::size_t before = m_store.pageCount();
        std::size_t noiseAdded = 0;
        for (std::size_t i = 0; i < count; ++i) {
            MessageSpec m;
            m.messageId = makeId(0x10000000ULL + m_nextMessage++);
            const std::string sender = kSenders[m_rng.below(10)];
            if (contacts) {
                // One draw per statement: the order of operands' calls is unspecified, and the
                // same seed must give the same file from every compiler and build.
                // (This order keeps the files the release build made before.)
                const char* first = kFirstNames[m_rng.below(6)];
                const char* last = kLastNames[m_rng.below(6)];
                m.subject = std::string(last) + " " + first;
            } else {
                const char* topic = kTopics[m_rng.below(12)];
                const bool reply = m_rng.chance(20);
                m.subject = std::string(reply ? "RE: " : "") + topic + " #" +
                            std::to_string(m_nextMessage);
            }
            m.sender = folder.name == u"Sent Items" ? "" : sender;
            m.filetime = kBaseTime + m_rng.below(3 * 365 * 86400) * kSecond;
            messages.push_back(m);

            MessagePropertiesSpec p;
            p.messageId = m.messageId;
            p.sender = sender;
            std::string text = "Hello,\r\n\r\nThis is message " + std::to_string(m_nextMessage) +
                               " about " + m.subject + ".\r\n";
            const std::size_t lines = m_rng.below(6);
            for (std::size_t l = 0; l < lines; ++l) {
                text += "Some more words on line " + std::to_string(l + 1) + " of the body.\r\n";
            }
            text += "\r\nRegards,\r\n" + sender + "\r\n";
            if (m_users) {
                usersBodies(p, text);
            } else if (m_rng.chance(m_chains ? 30 : 10)) {
                p.primary.kind = PrimaryBodySpec::Kind::LongValue;
                std::string longText;
                const std::size_t want =
                    m_chains ? 4500 + m_rng.below(3000) : 4500 + m_rng.below(12000);
                while (longText.size() < want) {
                    longText += text;
                }
                p.primary.text = longText;
                p.primary.reference = nextReference();
            } else {
                p.primary.kind = PrimaryBodySpec::Kind::Inline;
                p.primary.text = text;
            }
            const std::size_t formatted = m_users ? 4 : m_rng.below(4);
            if (m_chains && m_rng.chance(15)) {
                // 3 to 8 chunks of 2000 bytes, two a page: the chunk at 42 of each page is
                // found from the owner-106 pages, the one after it only by the chain walk.
                p.formatted.kind = FormattedBodySpec::Kind::Rtf;
                const std::size_t chunks = 3 + m_rng.below(6);
                std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\*\\htmltag64 <p>}";
                // A literal stream takes 9 bytes for 8 characters, plus its 16-byte header.
                const std::size_t want = (chunks - 1) * 2000 * 8 / 9 + 100 + m_rng.below(1500);
                while (rtf.size() < want) {
                    rtf += "Message " + std::to_string(m_nextMessage) + " in a longer RTF body. ";
                }
                rtf += "{\\*\\htmltag72 </p>}}";
                p.formatted.bytes = lzfuLiteralStream(rtf);
                p.formatted.longValue = true;
                p.formatted.reference = nextReference();
            } else if (formatted == 0) {
                p.formatted.kind = FormattedBodySpec::Kind::Html;
                const std::string html = "<html><body><p>This is message <b>" +
                                         std::to_string(m_nextMessage) + "</b>.</p></body></html>";
                p.formatted.bytes.assign(html.begin(), html.end());
            } else if (formatted == 1) {
                p.formatted.kind = FormattedBodySpec::Kind::Rtf;
                p.formatted.bytes = lzfuLiteralStream(
                    "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\*\\htmltag64 <p>}Message " +
                    std::to_string(m_nextMessage) + " in RTF{\\*\\htmltag72 </p>}}");
                if (m_rng.chance(5)) {
                    p.formatted.longValue = true;
                    p.formatted.reference = nextReference();
                }
            }
            if (contacts) {
                p.contact =
                    ContactColumnsSpec{u"+1 555 0100", u"+1 555 0101", u"+1 555 0102",
                                       u"1 Main Street, Springfield", u"someone@example.com"};
            }
            const std::size_t roll = m_rng.below(100);
            const int attachmentCount = contacts ? 0 : (roll < 25 ? 1 : (roll < 32 ? 2 : 0));
            for (int k = 0; k < attachmentCount; ++k) {
                AttachmentSpec a;
                a.id = makeAttachmentId(m_nextAttachment++);
                a.name = toUtf16("file-" + std::to_string(m_nextAttachment) + ".txt");
                const std::string line = "Attachment " + std::to_string(k + 1) + " of message " +
                                         std::to_string(m_nextMessage) + "\r\n";
                p.attachmentIds.push_back(a.id);
                if (m_rng.chance(m_chains ? 40 : m_users ? 30 : 15)) {
                    std::vector<std::uint8_t> big;
                    const std::size_t want = 5000 + m_rng.below(m_users ? 12000 : 40000);
                    while (big.size() < want) {
                        big.insert(big.end(), line.begin(), line.end());
                    }
                    a.reference = nextReference();
                    addAttachment(m_store, attachments, a, &big);
                } else {
                    const std::size_t reps = 1 + m_rng.below(20);
                    for (std::size_t r = 0; r < reps; ++r) {
                        a.data.insert(a.data.end(), line.begin(), line.end());
                    }
                    addAttachment(m_store, attachments, a);
                }
            }
            addMessageProperties(m_store, properties, p);
            // Noise between the messages' pages, keeping pace with the target size.
            const std::size_t pagesBefore = m_store.pageCount();
            catchUp(doneBefore + i + 1);
            noiseAdded += m_store.pageCount() - pagesBefore;
        }
        const std::size_t tableBefore = m_store.pageCount();
        if (count > 0) {
            addContentsTable(m_store, folder.id, folder.tableObject, messages);
        }
        m_dataPages += (tableBefore - before - noiseAdded) + (m_store.pageCount() - tableBefore);
        flush();
        m_flushedAt = m_store.pageCount();
    }

    // A few KiB of prose in code page 1252, with now and then a letter or quote mark outside
    // ASCII, as people write.
    std::string prose(std::size_t want) {
        static const char* const kWords[] = {
            "the", "project", "meeting", "we", "should", "agree", "on", "a", "date", "for",
            "review", "and", "budget", "numbers", "look", "fine", "but", "please", "check",
            "attached", "draft", "before", "Friday", "customer", "asked", "about", "delivery",
            "caf\xE9", "na\xEFve", "r\xE9sum\xE9", "\x93quoted\x94", "M\xFCller", "\x96",
            "server", "backup", "schedule", "thanks", "again", "next", "week", "report"};
        std::string out;
        out.reserve(want + 100);
        std::size_t line = 0;
        while (out.size() < want) {
            const std::string_view w = kWords[m_rng.below(std::size(kWords))];
            out += w;
            line += w.size() + 1;
            if (m_rng.chance(4)) {
                out += ".\r\n\r\n"; // a paragraph ends
                line = 0;
            } else if (line > 66) {
                out += "\r\n";
                line = 0;
            } else {
                out += ' ';
            }
        }
        return out;
    }

    // Bodies of the users' shape: most messages a plain text of 2 to 6 KiB (some with a short
    // RTF beside it), 10 % only an RTF body and 10 % only an HTML body, each a long value of
    // one chunk (the generator's chained values of several chunks are not all found again).
    void usersBodies(MessagePropertiesSpec& p, const std::string& greeting) {
        // Text that fits one 2000-byte chunk with the markup around it (RTF: compressed as
        // literals, 9 bytes for 8).
        constexpr std::size_t kOneChunkText = 1500;
        const std::size_t kind = m_rng.below(10);
        const std::size_t size = 2048 + m_rng.below(4 * 1024);
        if (kind == 0) {
            std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0 {\\fonttbl{\\f0 Arial;}}\\f0\\fs20 ";
            for (const char c : prose(kOneChunkText)) {
                if (c == '\n') {
                    rtf += "\\par ";
                } else if (static_cast<unsigned char>(c) >= 0x80) {
                    static const char* const kHex = "0123456789abcdef";
                    rtf += "\\'";
                    rtf += kHex[static_cast<unsigned char>(c) >> 4];
                    rtf += kHex[static_cast<unsigned char>(c) & 15];
                } else if (c != '\r') {
                    rtf += c;
                }
            }
            rtf.resize(rtf.rfind(' ', kOneChunkText + 100)); // past a word, never an escape
            rtf += "}";
            p.formatted.kind = FormattedBodySpec::Kind::Rtf;
            p.formatted.bytes = lzfuLiteralStream(rtf);
            p.formatted.longValue = true;
            p.formatted.reference = nextReference();
            return;
        }
        if (kind == 1) {
            std::string html = "<html><head><meta charset=\"windows-1252\"></head><body><p>";
            for (const char c : prose(kOneChunkText)) {
                html += c == '\n' ? std::string("<br>\n") : std::string(1, c);
            }
            html.resize(html.rfind(' ', kOneChunkText + 100));
            html += "</p></body></html>";
            p.formatted.kind = FormattedBodySpec::Kind::Html;
            p.formatted.bytes.assign(html.begin(), html.end());
            p.formatted.longValue = true;
            p.formatted.reference = nextReference();
            return;
        }
        p.primary.kind = PrimaryBodySpec::Kind::LongValue;
        p.primary.text = greeting + prose(size);
        p.primary.reference = nextReference();
        if (kind < 5) {
            p.formatted.kind = FormattedBodySpec::Kind::Rtf;
            p.formatted.bytes = lzfuLiteralStream(
                "{\\rtf1\\ansi\\ansicpg1252\\fromtext \\f0\\fs20 See the text body.}");
        }
    }

    std::ostream& m_out;
    Rng m_rng;
    std::uint64_t m_targetPages;
    std::uint64_t m_messages;
    bool m_chains;
    bool m_users;
    StoreBuilder m_store;
    std::size_t m_flushedAt = 0;
    std::size_t m_dataPages = 0;
    std::uint32_t m_nextObject = 300;
    std::uint64_t m_nextMessage = 1;
    std::uint32_t m_nextAttachment = 1;
    std::uint16_t m_reference = 0;
};

} // namespace

BenchStoreSummary writeBenchStore(std::ostream& out, const BenchStoreOptions& options) {
    Generator g(out, options.seed, (options.sizeBytes + kPage - 1) / kPage, options.messages,
                options.shape);
    return g.run();
}

} // namespace edbtest

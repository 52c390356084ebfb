#include "tests/support/demo_store.h"

#include "tests/support/contents_records.h"
#include "tests/support/discovery_records.h"
#include "tests/support/lzfu_writer.h"
#include "tests/support/properties_records.h"

#include <random>
#include <string>
#include <vector>

namespace edbtest {

namespace {
// 2003-02-13 09:55:06 UTC.
constexpr std::uint64_t kBaseTime = 0x01C2D345FC5DB900ULL;
constexpr std::uint64_t kHour = 36000000000ULL;

struct DemoFolder {
    Id8 id;
    Id8 parent;
    std::u16string name;
    std::u16string containerClass;
    std::uint32_t tableObject;
};

const char* const kSenders[] = {"Ann Smith",  "Bob Jones",    "Carla Núñez", "Dmitri Ivanov",
                                "Eve Martin", "Frank O'Neil", "Grete Müller"};
const char* const kTopics[] = {"Quarterly report", "Lunch on Friday?", "Server migration plan",
                               "Invoice 2003-117", "Team offsite",     "Budget review",
                               "Backup schedule",  "Welcome aboard",   "Отчёт за квартал",
                               "Café opening"};
const char* const kFirstNames[] = {"Alice", "Boris", "Chen", "Dana", "Emil", "Fatima"};
const char* const kLastNames[] = {"Archer", "Baker", "Cole", "Dunn", "Ellis", "Frost"};

std::string latin1(std::string_view utf8) {
    // The demo's bodies are stored in code page 1252; its texts are Latin-1 where it matters.
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xC3 && i + 1 < utf8.size()) {
            out.push_back(static_cast<char>(0x40 + static_cast<unsigned char>(utf8[++i])));
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

// Folder names that Maildir++ servers refuse or hide when written as they stand.
template <typename Add> void addServerNames(Add& add, const Id8& mailbox, const Id8& inbox) {
    add(mailbox, u"inbox", u"IPF.Note");
    add(mailbox, u"~", u"IPF.Note");
    const Id8 tilde = add(inbox, u"~backup", u"IPF.Note");
    add(tilde, u"v1.2 & v1.3", u"IPF.Note");
    add(mailbox, u"\u0412\u0445\u043e\u0434\u044f\u0449\u0438\u0435 \u0430\u0440\u0445\u0438\u0432",
        u"IPF.Note");
    add(inbox, u".hidden", u"IPF.Note");
    // 150 Cyrillic letters: 300 bytes of UTF-8, about 400 in modified UTF-7.
    std::u16string longName;
    for (int i = 0; i < 150; ++i) {
        longName += static_cast<char16_t>(0x0430 + i % 32);
    }
    add(mailbox, longName, u"IPF.Note");
    add(mailbox, longName + u"!", u"IPF.Note"); // differs only past any cut
    // Six levels of 90 letters: each fits a file name, the path of them does not.
    Id8 parent = inbox;
    for (char16_t level = u'A'; level < u'A' + 6; ++level) {
        parent = add(parent, std::u16string(90, level), u"IPF.Note");
    }
}
} // namespace

void buildDemoStore(StoreBuilder& store, const DemoOptions& options) {
    std::mt19937 rng(options.seed);
    auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };

    store.addPage(0); // the file header page

    std::vector<std::pair<Id8, std::u16string>> mailboxes = {{makeId(0x100), u"Ann Smith"},
                                                             {makeId(0x200), u"Иван Петров"},
                                                             {makeId(0x300), u"Help Desk"}};
    if (options.ownNames) {
        mailboxes.emplace_back(makeId(0x400), u"export-log.txt");
        mailboxes.emplace_back(makeId(0x500), u"Unattached folders");
    }
    Page& mbPage = store.page(store.addPage(21));
    std::size_t at = 60;
    for (std::size_t i = 0; i < mailboxes.size(); ++i) {
        at = writeMailboxRecord(mbPage, at, i % 2 == 0 ? 1 : 2, mailboxes[i].first,
                                mailboxes[i].second) +
             20;
    }

    std::vector<DemoFolder> folders;
    std::uint32_t nextObject = 300;
    std::uint64_t nextId = 1;
    for (const auto& mailbox : mailboxes) {
        const Id8 mbId = mailbox.first;
        auto add = [&](const Id8& parent, std::u16string name, std::u16string cls) {
            const Id8 id = makeId((mbId[6] << 16) + nextId++);
            folders.push_back({id, parent, std::move(name), std::move(cls), nextObject++});
            return id;
        };
        const bool serverNames = options.serverNames && mbId == mailboxes[1].first;
        if (serverNames) {
            add(mbId, u"INBOX", u"IPF.Note");
        }
        const Id8 inbox = add(mbId, u"Inbox", u"IPF.Note");
        add(mbId, u"Sent Items", u"IPF.Note");
        add(mbId, u"Deleted Items", u"IPF.Note");
        add(mbId, u"Drafts", u"IPF.Note");
        add(mbId, u"Calendar", u"IPF.Appointment");
        add(mbId, u"Contacts", u"IPF.Contact");
        add(mbId, u"Tasks", u"IPF.Task");
        const Id8 projects = add(inbox, u"Projects", u"IPF.Note");
        add(projects, u"2003", u"IPF.Note");
        if (options.hostileNames && mbId == mailboxes[0].first) {
            const Id8 odd = add(inbox, u"a/b.c\\d", u"IPF.Note");
            add(odd, u"..", u"IPF.Note");
            add(inbox, u"Q&A \"quoted\" 100%*", u"IPF.Note");
            add(inbox, u"tab\there\x01", u"IPF.Note");
            add(inbox, u"\u65e5\u672c\u8a9e \u00dcml\u00e4ut", u"IPF.Note");
            add(mbId, u"INBOX", u"IPF.Note");
            add(mbId, u" ", u"IPF.Note");
        }
        if (serverNames) {
            addServerNames(add, mbId, inbox);
        }
        if (mbId == mailboxes[0].first) {
            for (const std::u16string& name : options.extraInboxFolders) {
                add(inbox, name, u"IPF.Note");
            }
        }
        if (options.longNames && mbId == mailboxes[0].first) {
            const auto repeat = [](std::u16string_view word, std::size_t length) {
                std::u16string out;
                while (out.size() < length) {
                    out += word;
                }
                return out.substr(0, length);
            };
            const Id8 cyrillic =
                add(inbox, repeat(u"\u041e\u0442\u0447\u0451\u0442 ", 250), u"IPF.Note");
            const Id8 latin = add(cyrillic, repeat(u"Quarterly reports ", 250), u"IPF.Note");
            add(latin, repeat(u"Caf\u00e9 & notes ", 249) + u"A", u"IPF.Note");
            add(latin, repeat(u"Caf\u00e9 & notes ", 249) + u"B", u"IPF.Note");
        }
    }
    std::vector<FolderRecordSpec> records;
    for (const auto& f : folders) {
        records.push_back({f.id, f.parent, f.name, f.containerClass});
    }
    addFolderPages(store, records);

    RecordPacker properties(store, kPropertiesOwner);
    RecordPacker attachments(store, kAttachmentOwner);
    std::uint16_t nextReference = 1;
    std::uint32_t nextAttachment = 1;
    std::uint64_t nextMessage = 1;
    for (const auto& f : folders) {
        const bool contacts = f.containerClass == u"IPF.Contact";
        std::vector<MessageSpec> messages;
        for (int i = 0; i < options.messagesPerFolder; ++i) {
            MessageSpec m;
            m.messageId = makeId(0x10000000ULL + nextMessage++);
            if (contacts) {
                m.subject = std::string(kLastNames[pick(6)]) + " " + kFirstNames[pick(6)];
            } else {
                m.subject = std::string(i % 5 == 1 ? "RE: " : "") + kTopics[pick(10)];
            }
            m.sender = f.name == u"Sent Items" ? "" : kSenders[pick(7)];
            m.filetime = kBaseTime + static_cast<std::uint64_t>(pick(24 * 365)) * kHour +
                         pick(3600) * 10000000ULL;
            messages.push_back(m);

            MessagePropertiesSpec p;
            p.messageId = m.messageId;
            p.sender = m.sender.empty() ? "Ann Smith" : latin1(m.sender);
            const std::string text = "Hello,\r\n\r\nThis is message " + std::to_string(i + 1) +
                                     " about " + latin1(m.subject) + ".\r\n\r\nRegards,\r\n" +
                                     p.sender + "\r\n";
            if (i % 7 == 3) {
                p.primary.kind = PrimaryBodySpec::Kind::LongValue;
                std::string longText;
                while (longText.size() < 9000) {
                    longText += text;
                }
                p.primary.text = longText;
                p.primary.reference = nextReference++;
            } else {
                p.primary.kind = PrimaryBodySpec::Kind::Inline;
                p.primary.text = text;
            }
            if (i % 4 == 0) {
                p.formatted.kind = FormattedBodySpec::Kind::Html;
                const std::string html = "<html><body><p>This is message <b>" +
                                         std::to_string(i + 1) + "</b>.</p></body></html>";
                p.formatted.bytes.assign(html.begin(), html.end());
            } else if (i % 4 == 2) {
                p.formatted.kind = FormattedBodySpec::Kind::Rtf;
                p.formatted.bytes = lzfuLiteralStream(
                    "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\*\\htmltag64 <p>}Message " +
                    std::to_string(i + 1) + " in RTF{\\*\\htmltag72 </p>}}");
            }
            if (contacts) {
                p.contact =
                    ContactColumnsSpec{u"+1 555 0100", u"+1 555 0101", u"+1 555 0102",
                                       u"1 Main Street, Springfield", u"someone@example.com"};
            }
            const int attachmentCount = contacts ? 0 : (i % 3 == 0 ? 1 : (i % 6 == 1 ? 2 : 0));
            for (int k = 0; k < attachmentCount; ++k) {
                AttachmentSpec a;
                a.id = makeAttachmentId(nextAttachment++);
                a.name = toUtf16("notes-" + std::to_string(i + 1) + "-" + std::to_string(k + 1) +
                                 ".txt");
                std::string body = "Attachment " + std::to_string(k + 1) + " of message " +
                                   std::to_string(i + 1) + "\r\n";
                p.attachmentIds.push_back(a.id);
                if (k == 1) {
                    std::vector<std::uint8_t> big;
                    while (big.size() < 10000) {
                        big.insert(big.end(), body.begin(), body.end());
                    }
                    a.reference = nextReference++;
                    addAttachment(store, attachments, a, &big);
                } else {
                    a.data.assign(body.begin(), body.end());
                    addAttachment(store, attachments, a);
                }
            }
            addMessageProperties(store, properties, p);
        }
        if (options.duplicateIds && f.parent == mailboxes[0].first && f.name == u"Inbox") {
            for (std::size_t k = 0; k < 2 && k < messages.size(); ++k) {
                MessageSpec copy = messages[k];
                copy.subject = "Edited: " + copy.subject;
                messages.push_back(copy);
            }
        }
        addContentsTable(store, f.id, f.tableObject, messages);
    }
}

void writeDemoStore(const std::filesystem::path& path, const DemoOptions& options) {
    StoreBuilder store;
    buildDemoStore(store, options);
    store.writeTo(path);
}

} // namespace edbtest

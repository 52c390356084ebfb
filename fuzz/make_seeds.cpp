// Writes the seed corpora of the fuzz targets: make-fuzz-seeds DIR writes DIR/<target>/<seed>,
// one seed per record kind, built with the test store builder and the fuzz context's ids.
#include "fuzz/fuzz_context.h"
#include "tests/support/contents_records.h"
#include "tests/support/demo_store.h"
#include "tests/support/discovery_records.h"
#include "tests/support/lzfu_writer.h"
#include "tests/support/properties_records.h"
#include "tests/support/store_builder.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace edbtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

fs::path g_root;

void seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + (dir / name).string());
    }
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes hex(std::string_view h) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

Bytes pageOf(const StoreBuilder& store, std::size_t k) {
    const Bytes all = store.bytes();
    const auto from = static_cast<std::ptrdiff_t>(k * kPage);
    return Bytes(all.begin() + from, all.begin() + from + static_cast<std::ptrdiff_t>(kPage));
}

// The first file page with this owner.
std::size_t firstWithOwner(StoreBuilder& store, std::uint32_t owner) {
    for (std::size_t k = 0; k < store.pageCount(); ++k) {
        const Bytes& b = store.page(k).bytes();
        const std::uint32_t o = b[24] | (b[25] << 8) | (b[26] << 16) | (std::uint32_t{b[27]} << 24);
        if (o == owner) {
            return k;
        }
    }
    throw std::runtime_error("no page of owner " + std::to_string(owner));
}

std::vector<MessageSpec> inboxMessages() {
    std::vector<MessageSpec> out;
    for (int k = 1; k <= 3; ++k) {
        MessageSpec m;
        m.messageId = edbfuzz::messageId(k);
        m.subject = k == 2 ? "RE: Lunch on Friday?" : "Quarterly report " + std::to_string(k);
        m.sender = k == 3 ? "" : "Ann Smith";
        m.filetime = 0x01C2D345FC5DB900ULL + static_cast<std::uint64_t>(k) * 36000000000ULL;
        out.push_back(m);
    }
    return out;
}

std::vector<FolderRecordSpec> folderRecords() {
    const Id8 projects = makeId(0x103);
    return {{edbfuzz::inboxId(), edbfuzz::mailboxId(), u"Inbox", u"IPF.Note"},
            {edbfuzz::contactsId(), edbfuzz::mailboxId(), u"Contacts", u"IPF.Contact"},
            {makeId(0x104), edbfuzz::mailboxId(), u"Calendar", u"IPF.Appointment"},
            {projects, edbfuzz::inboxId(), u"Projects", u"IPF.Note"},
            {makeId(0x105), projects, u"2003", u""}};
}

MessagePropertiesSpec properties(int k) {
    MessagePropertiesSpec p;
    p.messageId = edbfuzz::messageId(k);
    p.sender = "Ann Smith";
    if (k == 1) {
        p.primary = {PrimaryBodySpec::Kind::LongValue, std::string(6000, 'x'), 1252,
                     edbfuzz::kPrimaryReference};
        p.formatted.kind = FormattedBodySpec::Kind::Rtf;
        p.formatted.bytes = lzfuLiteralStream("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag64 <p>}Hi}");
        p.formatted.longValue = true;
        p.formatted.reference = edbfuzz::kFormattedReference;
    } else if (k == 2) {
        p.primary = {PrimaryBodySpec::Kind::Inline, "Hello,\r\nsee attached.\r\n", 1251, 0};
        p.formatted.kind = FormattedBodySpec::Kind::Html;
        p.formatted.bytes = text("<html><body><p>Hi</p></body></html>");
        p.attachmentIds = {edbfuzz::attachmentId(1), edbfuzz::attachmentId(2)};
    } else if (k == 3) {
        p.senderSkipped = true;
        p.senderCodePage = 0;
        p.primary = {PrimaryBodySpec::Kind::Inline, "Short.", 1252, 0};
        p.formatted.kind = FormattedBodySpec::Kind::Rtf;
        p.formatted.bytes = lzfuLiteralStream("{\\rtf1\\ansi\\fromtext plain}");
        p.attachmentIds = {edbfuzz::attachmentId(2)};
        p.attachmentIdsHeaderOne = false;
    } else {
        p.contact = ContactColumnsSpec{u"+1 555 0100", u"+1 555 0101", u"+1 555 0102",
                                       u"1 Main Street", u"someone@example.com"};
    }
    return p;
}

// A small whole store: header page, mailboxes, folders, contents tables, properties, bodies,
// attachments and their long values.
void buildSmallStore(StoreBuilder& store) {
    store.addPage(0);
    Page& mb = store.page(store.addPage(21));
    std::size_t at = writeMailboxRecord(mb, 60, 1, edbfuzz::mailboxId(), u"Fuzz Box") + 20;
    writeMailboxRecord(mb, at, 2, makeId(0x200), u"Второй");
    addFolderPages(store, folderRecords());
    addContentsTable(store, edbfuzz::inboxId(), edbfuzz::kInboxTable, inboxMessages());
    MessageSpec contact;
    contact.messageId = edbfuzz::messageId(4);
    contact.subject = "Baker Alice";
    addContentsTable(store, edbfuzz::contactsId(), edbfuzz::kContactsTable, {contact});
    RecordPacker props(store, kPropertiesOwner);
    for (int k = 1; k <= 4; ++k) {
        addMessageProperties(store, props, properties(k));
    }
    RecordPacker atts(store, kAttachmentOwner);
    AttachmentSpec a1;
    a1.id = edbfuzz::attachmentId(1);
    a1.name = u"notes.txt";
    a1.data = text("Attachment one\r\n");
    addAttachment(store, atts, a1);
    AttachmentSpec a2;
    a2.id = edbfuzz::attachmentId(2);
    a2.name = u"short.txt";
    a2.longName = u"a much longer name.txt";
    a2.reference = edbfuzz::kAttachmentReference;
    const Bytes big(9000, 'A');
    addAttachment(store, atts, a2, &big, edbfuzz::kLongValueOwner);
}

void writeAll() {
    StoreBuilder small;
    buildSmallStore(small);
    seed("scan", "small-store", small.bytes());
    {
        StoreBuilder demo;
        buildDemoStore(demo, DemoOptions{7, 1});
        seed("scan", "demo-store", demo.bytes());
    }

    // First pass: an owner-2 page with the N1013 code and a catalog row, and the other owners.
    {
        StoreBuilder s;
        const ContentsTablePages t =
            addContentsTable(s, edbfuzz::inboxId(), edbfuzz::kInboxTable, inboxMessages());
        Page& cat = s.page(t.catalogPage);
        cat.put(200, {0x30, 0x01}).ascii(223, "N1013");
        seed("first_pass", "owner2", pageOf(s, t.catalogPage));
        seed("folder_tables", "catalog-row-and-table", [&] {
            // The catalog page first; the table's pages follow at their own page numbers.
            Bytes all = s.bytes();
            const Bytes first = pageOf(s, t.catalogPage);
            std::copy(first.begin(), first.end(), all.begin());
            return all;
        }());
        seed("message_entries", "table-leaf", pageOf(s, t.leafPages.at(0)));
        seed("message_entries", "table-root", pageOf(s, t.rootPage));
    }
    seed("first_pass", "owner21", pageOf(small, firstWithOwner(small, 21)));
    seed("first_pass", "owner8", pageOf(small, firstWithOwner(small, 8)));

    seed("mailboxes", "two-forms", pageOf(small, firstWithOwner(small, 21)));
    {
        StoreBuilder s;
        addFolderPages(s, folderRecords());
        seed("folders", "folder-records", s.bytes());
    }
    seed("properties", "four-records", pageOf(small, firstWithOwner(small, kPropertiesOwner)));
    {
        StoreBuilder s;
        addPagedLongValue(s, kBodyChunkOwner, edbfuzz::kPrimaryReference, Bytes(5000, 'b'));
        seed("body_chunks", "owner106", pageOf(s, 0));
        StoreBuilder c;
        addChainedLongValue(c, kBodyChunkOwner, edbfuzz::kFormattedReference, Bytes(6000, 'c'));
        seed("body_chunks", "chained", pageOf(c, 0));
    }
    {
        StoreBuilder s;
        RecordPacker atts(s, kAttachmentOwner);
        AttachmentSpec a1;
        a1.id = edbfuzz::attachmentId(1);
        a1.name = u"notes.txt";
        a1.data = text("Attachment one\r\n");
        addAttachment(s, atts, a1);
        AttachmentSpec a2;
        a2.id = edbfuzz::attachmentId(2);
        a2.name = u"short.txt";
        a2.longName = u"a much longer name.txt";
        a2.reference = edbfuzz::kAttachmentReference;
        a2.ownerPage = 1;
        addAttachment(s, atts, a2);
        addPagedLongValue(s, edbfuzz::kLongValueOwner, edbfuzz::kAttachmentReference,
                          Bytes(100, 'z'));
        seed("attachments", "inline-and-reference", s.bytes());
    }
    {
        StoreBuilder s;
        addPagedLongValue(s, edbfuzz::kLongValueOwner, edbfuzz::kAttachmentReference,
                          Bytes(5000, 'v'));
        seed("long_value_page", "paged", pageOf(s, 0));
        StoreBuilder p;
        addPackedLongValues(p, edbfuzz::kLongValueOwner,
                            {{edbfuzz::kAttachmentReference, text("one")},
                             {edbfuzz::kPrimaryReference, text("two")}});
        seed("long_value_page", "packed", pageOf(p, 0));
    }

    seed("compressed_rtf", "literal", lzfuLiteralStream("{\\rtf1\\ansi hello}"));
    seed("compressed_rtf", "vector1",
         hex("2d0000002b0000004c5a4675f1c5c7a703000a007263706731323542320af32068656c090020627705b0"
             "6c647d0a800fa0"));
    seed("compressed_rtf", "vector2",
         hex("1a0000001c0000004c5a4675e2d44b51410004205758595a0d6e7d010eb0"));
    {
        Bytes mela = hex("2e000000220000004d454c4100000000");
        const Bytes body = text("{\\rtf1\\ansi\\ansicpg1252\\pard test}");
        mela.insert(mela.end(), body.begin(), body.end());
        seed("compressed_rtf", "mela", mela);
    }

    seed("rtf_text", "html",
         text("{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss\\fcharset204 "
              "Arial;}}{\\*\\htmltag64 <p>}caf\\'e9 \\u1071?{\\*\\htmltag84 &nbsp;}\\htmlrtf "
              "x\\htmlrtf0 \\par{\\*\\htmltag72 </p>}}"));
    seed("rtf_text", "text", text("{\\rtf1\\ansi\\fromtext \\f0\\'e9t\\'e9\\tab end\\par}"));
    seed("rtf_text", "plain-rtf", text("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\b bold\\b0}"));

    seed("body_rule", "utf16-and-html",
         text(std::string("c\0o\0p\0y\0\xFF\0\xFF", 11) +
              "<html><head><style>p{}</style></head><body><p>a&nbsp;&amp;&#233;<br><li>x"
              "</body></html>"));

    // Header texts: subject, sender, folder owner and attachment name, split at 0x00 bytes.
    {
        const std::string parts[] = {
            "Re: =?UTF-8?B?ZXZpbC5leGU=?= \xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82",
            "Ann \"Smith\" <ann@example.com>\r\nX-Injected: yes", "Sent Items",
            "new\r\nX-Injected: yes;\\\"name\".doc"};
        std::string joined;
        for (const std::string& part : parts) {
            if (!joined.empty()) {
                joined.push_back('\0');
            }
            joined += part;
        }
        seed("eml_headers", "hostile", text(joined));
    }

    // Value reader: a 16-byte locator, then the store. Inline body in the properties page, long
    // values through their chunk pages, an inline attachment.
    {
        auto locator = [](std::uint16_t size, std::uint32_t pos, std::uint16_t ref,
                          std::uint8_t mode) {
            Bytes h(16, 0);
            h[0] = size & 0xFF;
            h[1] = size >> 8;
            for (int i = 0; i < 4; ++i) {
                h[2 + i] = static_cast<std::uint8_t>(pos >> (8 * i));
            }
            h[6] = ref & 0xFF;
            h[7] = ref >> 8;
            h[15] = mode;
            return h;
        };
        StoreBuilder s;
        addPagedLongValue(s, kBodyChunkOwner, 0x31, primaryBodyBytes(std::string(5000, 'p'), 1252));
        Bytes primary = locator(5, 0, 0x31, 0);
        const Bytes store = s.bytes();
        primary.insert(primary.end(), store.begin(), store.end());
        seed("value_reader", "long-primary", primary);

        StoreBuilder f;
        Page& pg = f.page(f.addPage(kPropertiesOwner));
        const Bytes html = text("<html><body>Hi</body></html>");
        pg.put(100, html);
        Bytes formatted = locator(static_cast<std::uint16_t>(html.size()), 100, 0xFFFF, 1);
        const Bytes fb = f.bytes();
        formatted.insert(formatted.end(), fb.begin(), fb.end());
        seed("value_reader", "inline-html", formatted);

        Bytes attachment = locator(17, 101, 0xFFFF, 2);
        attachment.insert(attachment.end(), fb.begin(), fb.end());
        seed("value_reader", "inline-attachment", attachment);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make-fuzz-seeds DIR\n";
        return 2;
    }
    g_root = argv[1];
    try {
        writeAll();
    } catch (const std::exception& e) {
        std::cerr << "make-fuzz-seeds: " << e.what() << '\n';
        return 1;
    }
    return 0;
}

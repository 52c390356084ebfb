#include "content/message_content.h"

#include "content/body_rule.h"
#include "frontend/folder_roles.h"

#include <cstdio>

namespace edb::conv {
namespace {

constexpr std::size_t kMaxTracedChunks = 8;

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

MessageSnapshot snapshotFields(const MessageEntry& m) {
    MessageSnapshot c;
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

// Where a value lies, short enough for a file name.
std::string shortLocation(const ValueLocation& l) {
    if (l.position != 0) {
        return "at " + hex(l.position);
    }
    return l.reference ? "in long value " + hex(*l.reference) : "";
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

} // namespace

MessageSnapshot SnapshotMessage(const StoreCatalog& catalog, const MessageEntry& m) {
    return catalog.messages.readFields([&] { return snapshotFields(m); });
}

std::string MissingPartLine(const std::string& what) {
    return "[Exchange To Eml: " + what + "]";
}

namespace {

constexpr std::string_view kMessageIdDomain = "exchange-to-eml.invalid";

// What tells apart two entries of one message id in one folder: their subjects.
std::string subjectHash(std::string_view subject) {
    std::uint32_t h = 2166136261U; // FNV-1a
    for (const char c : subject) {
        h = (h ^ static_cast<unsigned char>(c)) * 16777619U;
    }
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08x", h);
    return buf;
}

std::string htmlEscape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void appendLinesToText(std::string& text, const std::vector<std::string>& lines) {
    if (!text.empty() && text.back() != '\n') {
        text += "\r\n";
    }
    if (!text.empty()) {
        text += "\r\n";
    }
    for (const std::string& l : lines) {
        text += l + "\r\n";
    }
}

void appendLinesToHtml(std::string& html, const std::vector<std::string>& lines) {
    std::string block;
    for (const std::string& l : lines) {
        block += "<p>" + htmlEscape(l) + "</p>\r\n";
    }
    std::string lower = html;
    for (char& c : lower) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::size_t end = lower.rfind("</body");
    html.insert(end == std::string::npos ? html.size() : end, block);
}

} // namespace

MessageContent ReadMessageContent(const StoreReader& reader, const MessageSnapshot& m,
                                  const FolderPath& folder) {
    MessageContent content;
    EmlInput& in = content.eml;
    std::vector<std::string>& notes = content.notes;
    std::vector<std::string>& missing = content.missing;
    std::vector<std::string> remarks; // header notes that are not missing parts
    in.sender = m.sender;
    in.subject = m.subject;
    in.filetime = m.filetime;
    in.messageId = ToHex(m.folderId) + "." + ToHex(m.messageId) + "." + subjectHash(m.subject) +
                   (m.folderCopy ? ".c" + std::to_string(m.folderCopy) : "") + "@" +
                   std::string(kMessageIdDomain);

    // In the folder the list shows with a "To" column the stored name is the recipient; the
    // sender is the mailbox's owner.
    const bool sentItems = folder.node != nullptr && IsSentItems(folder.node->name);
    if (sentItems) {
        in.to.push_back(ParseSenderText(m.sender, "Unknown recipient"));
        const std::string owner =
            folder.attached && !folder.names.empty() ? folder.names.front() : "";
        in.from = ParseSenderText(owner, "Unknown mailbox");
        remarks.push_back("Sent Items: the stored name is the recipient (To); From is the "
                          "mailbox owner");
    } else {
        in.from = ParseSenderText(m.sender, "Unknown sender");
    }
    if (in.from.madeUp) {
        remarks.push_back("the store holds no sender address; From uses the reserved "
                          ".invalid domain");
    }
    if (!FiletimeToUnix(m.filetime)) {
        remarks.push_back("no Date: the stored time " + hex(m.filetime) +
                          " lies before 1970 or after 2099");
    }
    in.traceHeaders.emplace_back("X-Edb-Message-Id", ToHex(m.messageId));
    in.traceHeaders.emplace_back("X-Edb-Folder-Id", ToHex(m.folderId));
    in.traceHeaders.emplace_back("X-Edb-Plain-Body", traceLocation(m.primary));
    in.traceHeaders.emplace_back("X-Edb-Formatted-Body", traceLocation(m.formatted));

    const TextBody plain = ReadPrimaryBody(reader, m.primary);
    if (!plain.note.empty()) {
        notes.push_back("plain body: " + plain.note);
        missing.push_back("the plain text body could not be read completely from the store");
    }
    const FormattedBody formatted = ReadFormattedBody(reader, m.formatted);
    if (!formatted.note.empty()) {
        notes.push_back("formatted body: " + formatted.note);
        missing.push_back("the formatted body could not be read completely from the store");
    }
    if (formatted.fromRtf && formatted.note.empty() && formatted.raw.size() >= 4) {
        // The stream's first field counts the bytes after it; what follows is not the stream's.
        const auto* b = reinterpret_cast<const unsigned char*>(formatted.raw.data());
        const std::size_t size = 4 + (b[0] | b[1] << 8 | b[2] << 16 | std::size_t{b[3]} << 24);
        content.rtfCompressed = formatted.raw.substr(0, size);
    }
    ChosenBodies bodies =
        ChooseBodies(plain, formatted, shortLocation(m.primary), shortLocation(m.formatted));
    in.plainText = std::move(bodies.plainText);
    in.html = std::move(bodies.html);
    in.rtf = std::move(bodies.rtf);
    in.attachments = std::move(bodies.attachments);
    notes.insert(notes.end(), bodies.notes.begin(), bodies.notes.end());
    missing.insert(missing.end(), bodies.unreadable.begin(), bodies.unreadable.end());
    if (in.html && !in.plainText) {
        // Text readers show the text/plain part alone: it says where the message is.
        in.plainText = MissingPartLine("the message holds no text, only HTML layout; open its "
                                       "HTML version");
    }
    if (!in.plainText && !in.html && m.primary.position == 0 && !m.primary.reference &&
        m.formatted.position == 0 && !m.formatted.reference) {
        notes.push_back("no body in the store file");
        missing.push_back("the message body is not in the store file");
    } else if (!in.plainText && !in.html && missing.empty()) {
        // Values that hold nothing, or only zero bytes or white space: the reader is told,
        // rather than shown an empty message.
        notes.push_back("the body values hold no text");
        missing.push_back("the message body in the store file holds no text");
    }
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        const AttachmentSnapshot& a = m.attachments[i];
        in.traceHeaders.emplace_back("X-Edb-Attachment",
                                     std::to_string(i + 1) + ": " + traceLocation(a.location));
        AttachmentData data = ReadAttachmentData(reader, a.location);
        const std::string shown = CleanAttachmentName(a.name);
        if (!data.note.empty()) {
            notes.push_back("attachment " + std::to_string(i + 1) + ": " + data.note);
            missing.push_back("attachment '" + shown + "' " +
                              (data.found ? "could only be read in part from the store"
                                          : "could not be read from the store"));
        }
        if (data.found) {
            EmlAttachment& att = in.attachments.emplace_back();
            att.name = a.name;
            att.bytes = std::move(data.bytes);
            SetAttachmentType(att, GuessContentType(att.name, att.bytes));
        }
    }
    if (!missing.empty()) {
        std::vector<std::string> lines;
        for (const std::string& what : missing) {
            lines.push_back(MissingPartLine(what));
        }
        if (!in.plainText && !in.html) {
            in.plainText = std::string();
        }
        if (in.plainText) {
            appendLinesToText(*in.plainText, lines);
        }
        if (in.html) {
            appendLinesToHtml(*in.html, lines);
        }
    }
    for (const std::string& n : notes) {
        in.traceHeaders.emplace_back("X-Edb-Note", asciiOnly(n));
    }
    for (const std::string& r : remarks) {
        in.traceHeaders.emplace_back("X-Edb-Note", r);
    }
    return content;
}

std::string RenderMessageEml(const StoreCatalog& catalog, const MessageEntry& m,
                             const FolderPath& folder) {
    const StoreReader reader(catalog.storeFile, catalog.storeSize);
    return WriteEml(ReadMessageContent(reader, SnapshotMessage(catalog, m), folder).eml);
}

} // namespace edb::conv

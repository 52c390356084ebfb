#include "export/message_content.h"

#include "export/rtf_text.h"

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

std::optional<std::string> RealHtml(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            clean.push_back(c);
        }
    }
    const std::size_t first = clean.find_first_not_of(" \t\r\n\f");
    if (first == std::string::npos || clean.compare(first, 5, "{\\rtf") == 0) {
        return std::nullopt;
    }
    // Markup: a tag opening with a letter, '/' or '!' and closed later on.
    for (std::size_t lt = clean.find('<'); lt != std::string::npos; lt = clean.find('<', lt + 1)) {
        const char n = lt + 1 < clean.size() ? clean[lt + 1] : '\0';
        const bool tagStart =
            (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z') || n == '/' || n == '!';
        if (tagStart && clean.find('>', lt) != std::string::npos) {
            return clean;
        }
    }
    return std::nullopt;
}

namespace {

constexpr std::string_view kMessageIdDomain = "exchange-to-eml.invalid";

bool hasVisibleText(std::string_view s) {
    return s.find_first_not_of(" \t\r\n\f") != std::string_view::npos;
}

// A formatted copy of the plain text differs from it in line ends and spacing only.
std::string withoutSpace(std::string_view s) {
    std::string out;
    for (const char c : s) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f') {
            out += c;
        }
    }
    return out;
}

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

// Every body that reads back is used: the best readable one becomes the shown text, the
// others go along as attachments so nothing is lost.
void chooseBodies(const TextBody& plain, const FormattedBody& formatted, EmlInput& in,
                  std::vector<std::string>& notes) {
    const bool plainReadable = plain.found && hasVisibleText(plain.text);
    const bool plainWhole = plainReadable && plain.note.empty();
    const bool formattedWhole = formatted.note.empty();
    std::optional<std::string> html;
    std::optional<std::string> text; // the formatted body as plain text
    std::optional<std::string> rtf;
    switch (formatted.kind) {
    case FormattedBody::Kind::Html:
        if ((html = RealHtml(formatted.data))) {
            break;
        }
        if (formatted.data.find("{\\rtf") != std::string::npos) {
            rtf = formatted.data.substr(formatted.data.find("{\\rtf"));
            text = RtfVisibleText(*rtf);
        } else {
            text = CleanHeaderText(formatted.data, ' '); // text without markup or controls
        }
        notes.push_back("formatted body holds no HTML; kept as text");
        break;
    case FormattedBody::Kind::Text:
        text = formatted.data;
        break;
    case FormattedBody::Kind::Rtf:
        rtf = formatted.data;
        text = RtfVisibleText(formatted.data);
        break;
    case FormattedBody::Kind::None:
        break;
    }
    if (text && !hasVisibleText(*text)) {
        text.reset();
    }
    const auto attachText = [&](const std::string& name, const std::string& body,
                                const char* type) {
        in.attachments.push_back({name, std::vector<std::uint8_t>(body.begin(), body.end()), type});
    };
    if (plainWhole || (plainReadable && !html && !text)) {
        in.plainText = plain.text;
        if (html && formattedWhole) {
            in.html = std::move(html);
        } else if (html) {
            attachText("formatted body (incomplete).html", *html, "text/html");
        } else if (text && !rtf && withoutSpace(*text) != withoutSpace(plain.text)) {
            attachText(formattedWhole ? "formatted body.txt" : "formatted body (incomplete).txt",
                       *text, "text/plain");
        }
    } else if (html) {
        in.html = std::move(html);
    } else if (text) {
        in.plainText = std::move(text);
    }
    if (plainReadable && !in.plainText) {
        attachText("plain body (incomplete).txt", plain.text, "text/plain");
    }
    if (rtf) {
        in.rtf = std::move(rtf);
    }
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
    const bool sentItems = folder.node != nullptr && folder.node->name == "Sent Items";
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
    chooseBodies(plain, formatted, in, notes);
    if (!in.plainText && !in.html && m.primary.position == 0 && !m.primary.reference &&
        m.formatted.position == 0 && !m.formatted.reference) {
        notes.push_back("no body in the store file");
        missing.push_back("the message body is not in the store file");
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
            in.attachments.push_back({a.name, std::move(data.bytes), ""});
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

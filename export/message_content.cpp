#include "export/message_content.h"

#include <cstdio>
#include <mutex>
#include <shared_mutex>

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
    std::shared_lock lock(catalog.messages.fieldsMutex);
    return snapshotFields(m);
}

MessageContent ReadMessageContent(const StoreReader& reader, const MessageSnapshot& m,
                                  const FolderPath& folder) {
    (void)folder;
    MessageContent content;
    EmlInput& in = content.eml;
    std::vector<std::string>& notes = content.notes;
    in.sender = m.sender;
    in.subject = m.subject;
    in.filetime = m.filetime;
    in.traceHeaders.emplace_back("X-Edb-Message-Id", ToHex(m.messageId));
    in.traceHeaders.emplace_back("X-Edb-Folder-Id", ToHex(m.folderId));
    in.traceHeaders.emplace_back("X-Edb-Plain-Body", traceLocation(m.primary));
    in.traceHeaders.emplace_back("X-Edb-Formatted-Body", traceLocation(m.formatted));

    const TextBody plain = ReadPrimaryBody(reader, m.primary);
    if (plain.found) {
        in.plainText = plain.text;
    }
    if (!plain.note.empty()) {
        notes.push_back("plain body: " + plain.note);
    }
    FormattedBody formatted = ReadFormattedBody(reader, m.formatted);
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
        const AttachmentSnapshot& a = m.attachments[i];
        in.traceHeaders.emplace_back("X-Edb-Attachment",
                                     std::to_string(i + 1) + ": " + traceLocation(a.location));
        AttachmentData data = ReadAttachmentData(reader, a.location);
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
    return content;
}

std::string RenderMessageEml(const StoreCatalog& catalog, const MessageEntry& m,
                             const FolderPath& folder) {
    const StoreReader reader(catalog.storeFile, catalog.storeSize);
    return WriteEml(ReadMessageContent(reader, SnapshotMessage(catalog, m), folder).eml);
}

} // namespace edb::conv

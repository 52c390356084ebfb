#include "cli/json_catalog.h"

#include <charconv>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace edbcli {

using json = nlohmann::ordered_json;

std::string kindText(char kind) {
    return kind == 'a' || kind == 'c' ? std::string(1, kind) : std::string();
}

namespace {
std::string hex64(std::uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

json offsets(const edb::OffsetList& list) {
    json a = json::array();
    for (const auto v : list.values()) {
        a.push_back(v);
    }
    return a;
}

json body(const edb::BodyLocator& b) {
    return json{{"size", b.size},
                {"position", b.position},
                {"reference", b.reference ? json(*b.reference) : json(nullptr)},
                {"chunks", offsets(b.chunks)}};
}
} // namespace

json headerToJson(const edb::StoreCatalog& cat, const edb::ScanResult& result) {
    char code[5];
    std::snprintf(code, sizeof code, "%02x%02x", cat.n1013Code[0], cat.n1013Code[1]);
    json doc{{"outcome", edb::OutcomeName(result.outcome)},
             {"store_size", cat.storeSize},
             {"recorded_pages", cat.recordedPageCount},
             {"n1013_code", code},
             {"long_value_owner", cat.longValueOwner}};
    if (!result.message.empty() && result.outcome != edb::ScanOutcome::Complete) {
        doc["error"] = result.message;
    }
    json folders = json::array();
    for (const auto& f : cat.folderList) {
        folders.push_back({{"id", edb::ToHex(f.id)},
                           {"parent_id", edb::ToHex(f.parentId)},
                           {"name", f.name},
                           {"kind", kindText(f.kind)},
                           {"table_found", f.tableFound.load()}});
    }
    doc["folders"] = std::move(folders);
    json mailboxes = json::array();
    for (const auto& m : cat.mailboxList) {
        mailboxes.push_back({{"id", edb::ToHex(m.id)}, {"name", m.name}});
    }
    doc["mailboxes"] = std::move(mailboxes);
    return doc;
}

json catalogToJson(const edb::StoreCatalog& cat, const edb::ScanResult& result) {
    json doc = headerToJson(cat, result);
    json messages = json::array();
    std::shared_lock lock(cat.messages.fieldsMutex);
    for (const auto& m : cat.messages) {
        json atts = json::array();
        for (const auto& a : m.attachments) {
            atts.push_back({{"name", a.name},
                            {"size", a.size},
                            {"position", a.position},
                            {"reference", a.reference},
                            {"chunks", offsets(a.chunks)}});
        }
        json contacts = json::array();
        for (const auto& c : m.contacts) {
            contacts.push_back({{"full_name", c.fullName},
                                {"first_name", c.firstName},
                                {"last_name", c.lastName},
                                {"home_phone", c.homePhone},
                                {"business_phone", c.businessPhone},
                                {"mobile_phone", c.mobilePhone},
                                {"business_address", c.businessAddress},
                                {"email_address", c.emailAddress}});
        }
        messages.push_back({{"message_id", edb::ToHex(m.messageId)},
                            {"folder_id", edb::ToHex(m.folderId)},
                            {"subject", m.subject},
                            {"sender", m.sender},
                            {"filetime", hex64(m.filetime)},
                            {"kind", kindText(m.kind)},
                            {"properties_read", m.propertiesRead},
                            {"primary_body", body(m.primaryBody)},
                            {"formatted_body", body(m.formattedBody)},
                            {"attachments", std::move(atts)},
                            {"contacts", std::move(contacts)}});
    }
    doc["messages"] = std::move(messages);
    return doc;
}

namespace {
constexpr std::size_t kMessagesPerBatch = 4096;

// Text in the form nlohmann's dump(2) gives it: the same escapes, the same indentation.
class JsonText {
public:
    // With a null `out` the text only collects in buffer().
    explicit JsonText(std::FILE* out) : m_out(out) { m_buf.reserve(kFlushAt + 4096); }
    ~JsonText() { flush(); }
    JsonText(const JsonText&) = delete;
    JsonText& operator=(const JsonText&) = delete;

    void raw(std::string_view s) { m_buf.append(s); }
    void newline(int depth) {
        // A new line and up to 16 levels of indentation in one append.
        static constexpr char kIndent[] = "\n                                ";
        const auto width = static_cast<std::size_t>(2 * depth);
        if (width + 1 < sizeof kIndent) {
            m_buf.append(kIndent, width + 1);
            return;
        }
        m_buf.push_back('\n');
        m_buf.append(width, ' ');
    }
    void string(std::string_view s) {
        // Invalid UTF-8 is refused as the library would refuse it.
        m_buf.push_back('"');
        std::size_t i = 0;
        while (i < s.size()) {
            // A run of bytes that stand as they are goes in at once.
            std::size_t plain = i;
            while (plain < s.size()) {
                const auto p = static_cast<unsigned char>(s[plain]);
                if (p < 0x20 || p >= 0x80 || p == '"' || p == '\\') {
                    break;
                }
                ++plain;
            }
            if (plain > i) {
                m_buf.append(s.substr(i, plain - i));
                i = plain;
                continue;
            }
            const auto c = static_cast<unsigned char>(s[i]);
            if (c >= 0x80) {
                const std::size_t len = c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : 2);
                if (!validUtf8(s.substr(i, len))) {
                    // Let the library raise its own error for this text.
                    static_cast<void>(json(std::string(s)).dump());
                }
                m_buf.append(s.substr(i, len));
                i += len;
                continue;
            }
            switch (c) {
            case '"':
                m_buf.append("\\\"");
                break;
            case '\\':
                m_buf.append("\\\\");
                break;
            case '\b':
                m_buf.append("\\b");
                break;
            case '\f':
                m_buf.append("\\f");
                break;
            case '\n':
                m_buf.append("\\n");
                break;
            case '\r':
                m_buf.append("\\r");
                break;
            case '\t':
                m_buf.append("\\t");
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    m_buf.append(esc);
                } else {
                    m_buf.push_back(static_cast<char>(c));
                }
            }
            ++i;
        }
        m_buf.push_back('"');
    }
    void number(std::uint64_t v) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        m_buf.append(digits, r.ptr);
    }
    // Lower-case hex digits of `bytes` bytes, as a JSON string; no byte needs escaping.
    void hexString(const std::uint8_t* bytes, std::size_t count) {
        static constexpr char kDigits[] = "0123456789abcdef";
        char text[2 * 8 + 2];
        std::size_t k = 0;
        text[k++] = '"';
        for (std::size_t i = 0; i < count && i < 8; ++i) {
            text[k++] = kDigits[bytes[i] >> 4];
            text[k++] = kDigits[bytes[i] & 0x0F];
        }
        text[k++] = '"';
        m_buf.append(text, k);
    }
    void hex64String(std::uint64_t v) {
        std::uint8_t be[8];
        for (int i = 0; i < 8; ++i) {
            be[i] = static_cast<std::uint8_t>(v >> (8 * (7 - i)));
        }
        hexString(be, sizeof be);
    }
    std::string& buffer() { return m_buf; }
    void boolean(bool v) { m_buf.append(v ? "true" : "false"); }
    void key(int depth, std::string_view k, bool first) {
        if (!first) {
            m_buf.push_back(',');
        }
        newline(depth);
        // Keys are this program's own plain ASCII names: nothing to escape.
        m_buf.push_back('"');
        m_buf.append(k);
        m_buf.append("\": ");
    }
    void maybeFlush() {
        if (m_buf.size() >= kFlushAt) {
            flush();
        }
    }
    void flush() {
        if (m_out != nullptr && !m_buf.empty()) {
            std::fwrite(m_buf.data(), 1, m_buf.size(), m_out);
            m_buf.clear();
        }
    }

private:
    static bool validUtf8(std::string_view s) {
        const auto c = static_cast<unsigned char>(s[0]);
        const std::size_t len = c >= 0xF0 ? 4 : (c >= 0xE0 ? 3 : 2);
        if (c < 0xC2 || c > 0xF4 || s.size() < len) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        const auto c1 = static_cast<unsigned char>(s[1]);
        return !((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
                 (c == 0xF4 && c1 > 0x8F));
    }
    static constexpr std::size_t kFlushAt = 1 << 20;
    std::FILE* m_out;
    std::string m_buf;
};

void writeOffsets(JsonText& t, int depth, const edb::OffsetList& list) {
    if (list.empty()) {
        t.raw("[]");
        return;
    }
    t.raw("[");
    bool first = true;
    for (const auto v : list.values()) {
        if (!first) {
            t.raw(",");
        }
        t.newline(depth + 1);
        t.number(v);
        first = false;
    }
    t.newline(depth);
    t.raw("]");
}

void writeBody(JsonText& t, int depth, const edb::BodyLocator& b) {
    t.raw("{");
    t.key(depth + 1, "size", true);
    t.number(b.size);
    t.key(depth + 1, "position", false);
    t.number(b.position);
    t.key(depth + 1, "reference", false);
    if (b.reference) {
        t.number(*b.reference);
    } else {
        t.raw("null");
    }
    t.key(depth + 1, "chunks", false);
    writeOffsets(t, depth + 1, b.chunks);
    t.newline(depth);
    t.raw("}");
}

// One message at `depth` (its opening brace already placed by the caller's indentation).
void writeMessage(JsonText& t, int depth, const edb::MessageEntry& m) {
    const int d = depth + 1;
    t.raw("{");
    t.key(d, "message_id", true);
    t.hexString(m.messageId.data(), m.messageId.size());
    t.key(d, "folder_id", false);
    t.hexString(m.folderId.data(), m.folderId.size());
    t.key(d, "subject", false);
    t.string(m.subject);
    t.key(d, "sender", false);
    t.string(m.sender);
    t.key(d, "filetime", false);
    t.hex64String(m.filetime);
    t.key(d, "kind", false);
    t.raw(m.kind == 'a' ? "\"a\"" : (m.kind == 'c' ? "\"c\"" : "\"\""));
    t.key(d, "properties_read", false);
    t.boolean(m.propertiesRead);
    t.key(d, "primary_body", false);
    writeBody(t, d, m.primaryBody);
    t.key(d, "formatted_body", false);
    writeBody(t, d, m.formattedBody);
    t.key(d, "attachments", false);
    if (m.attachments.empty()) {
        t.raw("[]");
    } else {
        t.raw("[");
        bool first = true;
        for (const auto& a : m.attachments) {
            if (!first) {
                t.raw(",");
            }
            first = false;
            t.newline(d + 1);
            t.raw("{");
            t.key(d + 2, "name", true);
            t.string(a.name);
            t.key(d + 2, "size", false);
            t.number(a.size);
            t.key(d + 2, "position", false);
            t.number(a.position);
            t.key(d + 2, "reference", false);
            t.number(a.reference);
            t.key(d + 2, "chunks", false);
            writeOffsets(t, d + 2, a.chunks);
            t.newline(d + 1);
            t.raw("}");
        }
        t.newline(d);
        t.raw("]");
    }
    t.key(d, "contacts", false);
    if (m.contacts.empty()) {
        t.raw("[]");
    } else {
        t.raw("[");
        bool first = true;
        for (const auto& c : m.contacts) {
            if (!first) {
                t.raw(",");
            }
            first = false;
            t.newline(d + 1);
            t.raw("{");
            const std::pair<const char*, const std::string*> fields[] = {
                {"full_name", &c.fullName},
                {"first_name", &c.firstName},
                {"last_name", &c.lastName},
                {"home_phone", &c.homePhone},
                {"business_phone", &c.businessPhone},
                {"mobile_phone", &c.mobilePhone},
                {"business_address", &c.businessAddress},
                {"email_address", &c.emailAddress}};
            bool firstField = true;
            for (const auto& [name, value] : fields) {
                t.key(d + 2, name, firstField);
                t.string(*value);
                firstField = false;
            }
            t.newline(d + 1);
            t.raw("}");
        }
        t.newline(d);
        t.raw("]");
    }
    t.newline(depth);
    t.raw("}");
}
} // namespace

void writeCatalogJson(std::FILE* out, const edb::StoreCatalog& cat, const edb::ScanResult& result) {
    std::string head = headerToJson(cat, result).dump(2);
    head.pop_back(); // the closing brace; the messages follow the header's last member
    while (!head.empty() && head.back() == '\n') {
        head.pop_back();
    }
    JsonText t(out);
    t.raw(head);
    t.raw(",\n  \"messages\": ");
    std::shared_lock lock(cat.messages.fieldsMutex);
    if (cat.messages.size() == 0) {
        t.raw("[]");
    } else {
        t.raw("[");
        t.flush();
        // Batches of messages are formatted two at a time, one on a helper thread, and written
        // in list order; nothing changes the messages any more.
        std::vector<const edb::MessageEntry*> batch[2];
        JsonText text[2] = {JsonText(nullptr), JsonText(nullptr)};
        auto format = [](JsonText& out, const std::vector<const edb::MessageEntry*>& ms,
                         bool first) {
            out.buffer().clear();
            for (const edb::MessageEntry* m : ms) {
                if (!first) {
                    out.raw(",");
                }
                first = false;
                out.newline(2);
                writeMessage(out, 2, *m);
            }
        };
        auto it = cat.messages.begin();
        const auto end = cat.messages.end();
        bool first = true;
        while (it != end) {
            for (auto& b : batch) {
                b.clear();
                for (; it != end && b.size() < kMessagesPerBatch; ++it) {
                    b.push_back(&*it);
                }
            }
            std::thread helper;
            if (!batch[1].empty()) {
                try {
                    helper = std::thread([&] { format(text[1], batch[1], false); });
                } catch (const std::system_error&) {
                    format(text[1], batch[1], false);
                }
            }
            format(text[0], batch[0], first);
            first = false;
            if (helper.joinable()) {
                helper.join();
            }
            for (JsonText& part : text) {
                std::fwrite(part.buffer().data(), 1, part.buffer().size(), out);
                part.buffer().clear();
            }
        }
        t.newline(1);
        t.raw("]");
    }
    t.raw("\n}\n");
}

} // namespace edbcli

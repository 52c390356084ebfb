#include "cli/json_catalog.h"
#include "frontend/scan_texts.h"

#include <cerrno>
#include <charconv>
#include <concepts>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

namespace edbcli {

using json = nlohmann::ordered_json;

std::string kindText(char kind) {
    return kind == 'a' || kind == 'c' ? std::string(1, kind) : std::string();
}

namespace {
constexpr std::size_t kMessagesPerBatch = 4096;

// Text in the form nlohmann's dump(2) gives it: the same escapes, the same indentation.
class JsonText {
public:
    // With a null `out` the text only collects in buffer().
    explicit JsonText(std::ostream* out) : m_out(out) { m_buf.reserve(kFlushAt + 4096); }
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
    // Plain ASCII goes in as it is; anything else is escaped by the JSON library itself, so
    // the text is what its dump(2) gives, and invalid UTF-8 is refused as it refuses it.
    void string(std::string_view s) {
        for (const char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') {
                m_buf.append(nlohmann::ordered_json(std::string(s)).dump());
                return;
            }
        }
        m_buf.push_back('"');
        m_buf.append(s);
        m_buf.push_back('"');
    }
    template <std::integral T> void number(T v) {
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
            m_out->write(m_buf.data(), static_cast<std::streamsize>(m_buf.size()));
            m_buf.clear();
        }
    }

private:
    static constexpr std::size_t kFlushAt = 1 << 20;
    std::ostream* m_out;
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

// Everything before the messages: outcome, sizes, folders, mailboxes.
void writeHeader(JsonText& t, const edb::StoreCatalog& cat, const edb::ScanResult& result) {
    t.raw("{");
    t.key(1, "outcome", true);
    t.string(edb::OutcomeName(result.outcome));
    t.key(1, "store_size", false);
    t.number(cat.storeSize);
    t.key(1, "recorded_pages", false);
    t.number(cat.recordedPageCount);
    t.key(1, "n1013_code", false);
    t.hexString(cat.n1013Code.data(), cat.n1013Code.size());
    t.key(1, "long_value_owner", false);
    t.number(cat.longValueOwner);
    if (const std::string error = edb::ScanEndText(result); !error.empty()) {
        t.key(1, "error", false);
        t.string(error);
    }
    t.key(1, "unreadable", false);
    if (result.unreadable.empty()) {
        t.raw("[]");
    } else {
        t.raw("[");
        bool first = true;
        for (const edb::UnreadableRange& r : result.unreadable) {
            t.raw(first ? "" : ",");
            first = false;
            t.newline(2);
            t.raw("{");
            t.key(3, "offset", true);
            t.number(r.offset);
            t.key(3, "length", false);
            t.number(r.length);
            t.key(3, "reason", false);
            t.string(r.reason());
            t.newline(2);
            t.raw("}");
        }
        t.newline(1);
        t.raw("]");
    }
    t.key(1, "folders", false);
    if (cat.folderList.begin() == cat.folderList.end()) {
        t.raw("[]");
    } else {
        t.raw("[");
        bool first = true;
        for (const auto& f : cat.folderList) {
            t.raw(first ? "" : ",");
            first = false;
            t.newline(2);
            t.raw("{");
            t.key(3, "id", true);
            t.hexString(f.id.data(), f.id.size());
            t.key(3, "parent_id", false);
            t.hexString(f.parentId.data(), f.parentId.size());
            t.key(3, "name", false);
            t.string(f.name);
            t.key(3, "kind", false);
            t.string(kindText(f.kind));
            t.key(3, "table_found", false);
            t.boolean(f.tableFound.load());
            t.newline(2);
            t.raw("}");
        }
        t.newline(1);
        t.raw("]");
    }
    t.key(1, "mailboxes", false);
    if (cat.mailboxList.begin() == cat.mailboxList.end()) {
        t.raw("[]");
    } else {
        t.raw("[");
        bool first = true;
        for (const auto& m : cat.mailboxList) {
            t.raw(first ? "" : ",");
            first = false;
            t.newline(2);
            t.raw("{");
            t.key(3, "id", true);
            t.hexString(m.id.data(), m.id.size());
            t.key(3, "name", false);
            t.string(m.name);
            t.newline(2);
            t.raw("}");
        }
        t.newline(1);
        t.raw("]");
    }
}
} // namespace

void writeCatalogJson(std::ostream& out, const edb::StoreCatalog& cat,
                      const edb::ScanResult& result) {
    JsonText t(&out);
    writeHeader(t, cat, result);
    t.raw(",\n  \"messages\": ");
    cat.messages.readFields([&] {
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
                    out.write(part.buffer().data(),
                              static_cast<std::streamsize>(part.buffer().size()));
                    part.buffer().clear();
                }
            }
            t.newline(1);
            t.raw("]");
        }
    });
    t.raw("\n}\n");
}

std::string catalogJsonText(const edb::StoreCatalog& catalog, const edb::ScanResult& result) {
    std::ostringstream text;
    writeCatalogJson(text, catalog, result);
    return std::move(text).str();
}

} // namespace edbcli

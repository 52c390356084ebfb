#include "tests/export/gmime_reader.h"

#include <fstream>
#include <gmime/gmime.h>
#include <mutex>

namespace edbtest {
namespace {

void initOnce() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::string takeString(char* s) {
    std::string out = s != nullptr ? s : "";
    g_free(s);
    return out;
}

std::string addresses(InternetAddressList* list) {
    if (list == nullptr || internet_address_list_length(list) == 0) {
        return {};
    }
    return takeString(internet_address_list_to_string(list, nullptr, FALSE));
}

std::string decodedBody(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) {
        return {};
    }
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, out);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    std::string body(reinterpret_cast<const char*>(bytes->data), bytes->len);
    g_object_unref(out);
    return body;
}

void walk(GMimeObject* object, GmimeMessage& m) {
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* mp = GMIME_MULTIPART(object);
        m.multiparts.push_back(
            takeString(g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object))));
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i) {
            walk(g_mime_multipart_get_part(mp, i), m);
        }
        return;
    }
    if (!GMIME_IS_PART(object)) {
        return;
    }
    GMimePart* part = GMIME_PART(object);
    GmimePart p;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    p.type = takeString(g_mime_content_type_get_mime_type(type));
    if (const char* cs = g_mime_content_type_get_parameter(type, "charset")) {
        p.charset = cs;
    }
    if (const char* name = g_mime_content_type_get_parameter(type, "name")) {
        p.name = name;
    }
    if (const char* fn = g_mime_part_get_filename(part)) {
        p.filename = fn;
    }
    if (const char* cte = g_mime_object_get_header(object, "Content-Transfer-Encoding")) {
        p.encoding = cte;
    }
    p.body = decodedBody(part);
    m.leaves.push_back(std::move(p));
}

bool validUtf8(const std::string& s) {
    return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr) != FALSE;
}

std::optional<GmimeMessage> fromParser(GMimeParser* parser) {
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    std::optional<GmimeMessage> out;
    if (msg != nullptr) {
        GmimeMessage m;
        m.from = addresses(g_mime_message_get_from(msg));
        m.to = addresses(g_mime_message_get_to(msg));
        if (const char* subject = g_mime_message_get_subject(msg)) {
            m.subject = subject;
        }
        if (GDateTime* date = g_mime_message_get_date(msg)) {
            m.date = g_date_time_to_unix(date);
        }
        if (const char* id = g_mime_message_get_message_id(msg)) {
            m.messageId = id;
        }
        if (GMimeObject* body = g_mime_message_get_mime_part(msg)) {
            walk(body, m);
        }
        out = std::move(m);
        g_object_unref(msg);
    }
    return out;
}

} // namespace

std::optional<GmimeMessage> ReadWithGmime(const std::string& eml) {
    initOnce();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(eml.data(), eml.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    auto out = fromParser(parser);
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

std::vector<GmimeMessage> ReadMboxWithGmime(const std::filesystem::path& file) {
    initOnce();
    std::ifstream in(file, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), {});
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
    std::vector<GmimeMessage> out;
    while (g_mime_parser_eos(parser) == FALSE) {
        auto m = fromParser(parser);
        if (!m) {
            break;
        }
        out.push_back(std::move(*m));
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

std::string Lf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            out += text[i];
        }
    }
    return out;
}

const GmimePart* FirstOfType(const GmimeMessage& m, const std::string& type) {
    for (const GmimePart& p : m.leaves) {
        if (p.type == type && p.filename.empty()) {
            return &p;
        }
    }
    return nullptr;
}

std::map<std::string, GmimeMessage> ReadTreeWithGmime(const std::filesystem::path& root) {
    std::map<std::string, GmimeMessage> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && e.path().extension() == ".eml") {
            std::ifstream in(e.path(), std::ios::binary);
            if (auto m = ReadWithGmime(std::string((std::istreambuf_iterator<char>(in)), {}))) {
                out[m->subject] = std::move(*m);
            }
        }
    }
    return out;
}

std::vector<std::string> CheckTreeWithGmime(const std::filesystem::path& root) {
    std::vector<std::string> problems;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || e.path().extension() != ".eml") {
            continue;
        }
        const std::string where = e.path().string() + ": ";
        std::ifstream in(e.path(), std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)), {});
        const auto m = ReadWithGmime(raw);
        if (!m) {
            problems.push_back(where + "GMime reads no message");
            continue;
        }
        if (m->leaves.empty()) {
            problems.push_back(where + "no part");
        }
        // Each part the file delimits is a part GMime sees: leaves plus multiparts equal the
        // body's part count (one for the top, one per delimiter line that is not a close).
        std::size_t delimiters = 0;
        for (std::size_t at = raw.find("\r\n--=_edb_"); at != std::string::npos;
             at = raw.find("\r\n--=_edb_", at + 2)) {
            const std::size_t eol = raw.find("\r\n", at + 2);
            delimiters += raw.compare(eol - 2, 2, "--") == 0 ? 0 : 1;
        }
        const std::size_t parts = m->leaves.size() + m->multiparts.size();
        if (parts != delimiters + 1) {
            problems.push_back(where + "GMime sees " + std::to_string(parts) + " parts, the file " +
                               std::to_string(delimiters + 1));
        }
        for (const GmimePart& p : m->leaves) {
            const bool text = p.type.rfind("text/", 0) == 0 && p.filename.empty();
            if (text && p.charset != "utf-8") {
                problems.push_back(where + p.type + " in charset '" + p.charset + "'");
            }
            if (text && (!validUtf8(p.body) || p.body.find('\0') != std::string::npos)) {
                problems.push_back(where + p.type + " that is not UTF-8 text");
            }
            if (!text && p.filename.empty()) {
                problems.push_back(where + p.type + " attachment without a file name");
            }
            if (!text && p.name != p.filename) {
                problems.push_back(where + "name '" + p.name + "' but filename '" + p.filename +
                                   "'");
            }
        }
    }
    return problems;
}

} // namespace edbtest

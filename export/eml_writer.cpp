#include "export/eml_writer.h"

#include <cstdio>
#include <gio/gio.h>
#include <gmime/gmime.h>
#include <mutex>
#include <string_view>
#include <vector>

namespace edb::conv {
namespace {

constexpr std::int64_t kFiletimeTicksPerSecond = 10000000;
constexpr std::int64_t kFiletimeToUnixSeconds = 11644473600; // 1601-01-01 to 1970-01-01
constexpr std::int64_t kLastSecondOf2099 = 4102444799;       // 2099-12-31 23:59:59 UTC
constexpr std::size_t kContentSniffBytes = 4096;

// Line ends as LF: the writer turns them into CRLF, and a CR left alone would be encoded.
std::string toLf(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < s.size() && s[i + 1] == '\n') {
                ++i;
            }
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// The part's content from memory. An empty buffer is never handed to GMime (it reports a
// critical for one): an empty stream stands for an empty part.
void setContent(GMimePart* part, const void* data, std::size_t size) {
    GMimeStream* stream = g_mime_stream_mem_new();
    if (size > 0) {
        g_mime_stream_write(stream, static_cast<const char*>(data), size);
        g_mime_stream_reset(stream);
    }
    GMimeDataWrapper* wrapper =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
}

// Text parts are always UTF-8: readers that know only one charset know this one.
GMimeObject* textPart(const char* subtype, const std::string& text) {
    GMimePart* part = GMIME_PART(g_mime_text_part_new_with_subtype(subtype));
    const std::string lf = toLf(text);
    setContent(part, lf.data(), lf.size());
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "utf-8");
    g_mime_part_set_content_encoding(
        part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
    return GMIME_OBJECT(part);
}

// A header whose value this program formats itself (see mime_header.h): GMime writes a raw
// value as it stands.
void appendRawHeader(GMimeObject* object, const char* name, const std::string& raw) {
    g_mime_object_append_header(object, name, "", nullptr);
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    GMimeHeader* header =
        g_mime_header_list_get_header_at(list, g_mime_header_list_get_count(list) - 1);
    g_mime_header_set_raw_value(header, (raw + "\n").c_str());
}

void setRawHeader(GMimeObject* object, const char* name, const std::string& raw) {
    GMimeHeader* header =
        g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    if (header != nullptr) {
        g_mime_header_set_raw_value(header, (raw + "\n").c_str());
    }
}

GMimeObject* binaryPart(const std::string& type, const std::string& name, const void* data,
                        std::size_t size, const std::string& charset = {}) {
    const auto slash = type.find('/');
    const std::string major = slash == std::string::npos ? "application" : type.substr(0, slash);
    const std::string minor = slash == std::string::npos ? "octet-stream" : type.substr(slash + 1);
    GMimePart* part = g_mime_part_new_with_type(major.c_str(), minor.c_str());
    // An empty attachment is a valid empty part; GMime refuses a null buffer, so the stream
    // is only written to when there is something to write.
    setContent(part, data, size);
    g_mime_object_set_disposition(GMIME_OBJECT(part), GMIME_DISPOSITION_ATTACHMENT);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    const std::string fullType =
        major + "/" + minor + (charset.empty() ? "" : "; charset=" + charset);
    setRawHeader(GMIME_OBJECT(part), "Content-Type",
                 ValueWithNameParam("Content-Type", fullType, "name", name));
    setRawHeader(GMIME_OBJECT(part), "Content-Disposition",
                 ValueWithNameParam("Content-Disposition", "attachment", "filename", name));
    return GMIME_OBJECT(part);
}

} // namespace

void InitGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::optional<std::int64_t> FiletimeToUnix(std::uint64_t filetime) {
    const auto secs =
        static_cast<std::int64_t>(filetime / kFiletimeTicksPerSecond) - kFiletimeToUnixSeconds;
    if (secs < 0 || secs > kLastSecondOf2099) {
        return std::nullopt;
    }
    return secs;
}

std::string GuessContentType(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    gboolean uncertain = FALSE;
    gchar* type = g_content_type_guess(name.c_str(), bytes.data(),
                                       std::min(bytes.size(), kContentSniffBytes), &uncertain);
    std::string out = "application/octet-stream";
    if (type != nullptr) {
        gchar* mime = g_content_type_get_mime_type(type);
        if (mime != nullptr && std::string_view(mime).find('/') != std::string_view::npos) {
            out = mime;
        }
        g_free(mime);
        g_free(type);
    }
    return out;
}

namespace {

std::uint64_t fnv1a(std::uint64_t h, std::string_view bytes) {
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

// Boundaries made from the message itself, so that exporting the same store twice gives the
// same bytes (files can be compared by hash). `salt` changes them when one turns out to occur
// in the content.
std::string boundaryFor(const EmlInput& in, const char* kind, int salt) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    h = fnv1a(h, in.messageId);
    h = fnv1a(h, in.subject);
    h = fnv1a(h, in.plainText.value_or(""));
    h = fnv1a(h, in.html.value_or(""));
    h = fnv1a(h, std::to_string(in.attachments.size()) + "/" + std::to_string(salt));
    char text[48];
    std::snprintf(text, sizeof text, "=_edb_%s_%016llx", kind, static_cast<unsigned long long>(h));
    return text;
}

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

// A multipart without the random boundary GMime's constructor draws (a read of the system's
// random device per part, then replaced by ours); the last try still takes a random one.
GMimeMultipart* newMultipart(const char* subtype, int salt) {
    if (salt < 0) {
        return g_mime_multipart_new_with_subtype(subtype);
    }
    auto* mp = static_cast<GMimeMultipart*>(g_object_new(GMIME_TYPE_MULTIPART, nullptr));
    GMimeContentType* type = g_mime_content_type_new("multipart", subtype);
    g_mime_object_set_content_type(GMIME_OBJECT(mp), type);
    g_object_unref(type);
    return mp;
}

void useBoundary(GMimeMultipart* mp, const EmlInput& in, const char* kind, int salt,
                 std::vector<std::pair<std::string, std::size_t>>* used) {
    if (salt < 0) {
        return;
    }
    const std::string boundary = boundaryFor(in, kind, salt);
    g_mime_multipart_set_boundary(mp, boundary.c_str());
    used->emplace_back(boundary, static_cast<std::size_t>(g_mime_multipart_get_count(mp)));
}

std::string writeEml(const EmlInput& in, int salt,
                     std::vector<std::pair<std::string, std::size_t>>* used) {
    InitGMime();
    GMimeMessage* msg = g_mime_message_new(FALSE);
    GMimeObject* top = GMIME_OBJECT(msg);
    const EmlAddress from =
        in.from.address.empty() ? ParseSenderText(in.sender, "Unknown sender") : in.from;
    appendRawHeader(top, "From", MailboxValue("From", from));
    if (!in.to.empty()) {
        std::string value;
        for (std::size_t i = 0; i < in.to.size(); ++i) {
            value += (i ? ",\n" : "") + MailboxValue("To", in.to[i]);
        }
        appendRawHeader(top, "To", value);
    }
    appendRawHeader(top, "Subject", UnstructuredValue("Subject", in.subject));
    if (const auto secs = FiletimeToUnix(in.filetime)) {
        GDateTime* date = g_date_time_new_from_unix_utc(*secs);
        if (date != nullptr) {
            g_mime_message_set_date(msg, date);
            g_date_time_unref(date);
        }
    }
    if (!in.messageId.empty()) {
        appendRawHeader(top, "Message-ID", " <" + in.messageId + ">");
    }
    for (const auto& [name, value] : in.traceHeaders) {
        appendRawHeader(top, name.c_str(), UnstructuredValue(name, value));
    }

    GMimeObject* body = nullptr;
    if (in.plainText && in.html) {
        GMimeMultipart* alt = newMultipart("alternative", salt);
        GMimeObject* plain = textPart("plain", *in.plainText);
        GMimeObject* html = textPart("html", *in.html);
        g_mime_multipart_add(alt, plain);
        g_mime_multipart_add(alt, html);
        useBoundary(alt, in, "a", salt, used);
        g_object_unref(plain);
        g_object_unref(html);
        body = GMIME_OBJECT(alt);
    } else if (in.html) {
        body = textPart("html", *in.html);
    } else if (in.plainText) {
        body = textPart("plain", *in.plainText);
    }

    const bool hasParts = in.rtf.has_value() || !in.attachments.empty();
    top = body;
    if (hasParts) {
        GMimeMultipart* mixed = newMultipart("mixed", salt);
        if (body != nullptr) {
            g_mime_multipart_add(mixed, body);
            g_object_unref(body);
        }
        if (in.rtf) {
            GMimeObject* rtf =
                binaryPart("application/rtf", "message.rtf", in.rtf->data(), in.rtf->size());
            g_mime_multipart_add(mixed, rtf);
            g_object_unref(rtf);
        }
        for (const EmlAttachment& a : in.attachments) {
            const std::string type = a.type.empty() ? GuessContentType(a.name, a.bytes) : a.type;
            GMimeObject* part =
                binaryPart(type, a.name, a.bytes.data(), a.bytes.size(), a.charset);
            g_mime_multipart_add(mixed, part);
            g_object_unref(part);
        }
        useBoundary(mixed, in, "m", salt, used);
        top = GMIME_OBJECT(mixed);
    }
    if (top == nullptr) {
        // No body: an empty text part, so that readers see a message with no text rather than a
        // malformed one.
        top = textPart("plain", "");
    }
    g_mime_message_set_mime_part(msg, top);
    g_object_unref(top);

    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    g_mime_format_options_set_param_encoding_method(options, GMIME_PARAM_ENCODING_METHOD_RFC2231);
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(GMIME_OBJECT(msg), options, out);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    std::string result(reinterpret_cast<const char*>(bytes->data), bytes->len);
    g_object_unref(out);
    g_mime_format_options_free(options);
    g_object_unref(msg);
    return result;
}

} // namespace

std::string WriteEml(const EmlInput& in) {
    // A boundary that the content happens to hold would cut the message: try another, and in
    // the end leave the choice to GMime's random ones.
    constexpr int kTries = 4;
    for (int salt = 0; salt < kTries; ++salt) {
        std::vector<std::pair<std::string, std::size_t>> used;
        std::string eml = writeEml(in, salt, &used);
        bool clean = true;
        for (const auto& [boundary, parts] : used) {
            // Each part opens with a delimiter line and the last is followed by the close.
            clean = clean && countOf(eml, "\n--" + boundary) == parts + 1;
        }
        if (clean) {
            return eml;
        }
    }
    return writeEml(in, -1, nullptr);
}

} // namespace edb::conv

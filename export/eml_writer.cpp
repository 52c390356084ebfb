#include "export/eml_writer.h"

#include <gio/gio.h>
#include <gmime/gmime.h>
#include <mutex>

namespace edb::conv {
namespace {

constexpr std::int64_t kFiletimeTicksPerSecond = 10000000;
constexpr std::int64_t kFiletimeToUnixSeconds = 11644473600; // 1601-01-01 to 1970-01-01
constexpr std::int64_t kLastSecondOf9999 = 253402300799;
constexpr std::size_t kContentSniffBytes = 4096;

void initGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

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

GMimeObject* textPart(const char* subtype, const std::string& text) {
    GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
    g_mime_text_part_set_text(part, toLf(text).c_str());
    g_mime_part_set_content_encoding(
        GMIME_PART(part),
        g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    return GMIME_OBJECT(part);
}

GMimeObject* binaryPart(const std::string& type, const std::string& name, const void* data,
                        std::size_t size) {
    const auto slash = type.find('/');
    const std::string major = slash == std::string::npos ? "application" : type.substr(0, slash);
    const std::string minor = slash == std::string::npos ? "octet-stream" : type.substr(slash + 1);
    GMimePart* part = g_mime_part_new_with_type(major.c_str(), minor.c_str());
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(static_cast<const char*>(data), size);
    GMimeDataWrapper* wrapper =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
    g_mime_part_set_filename(part, name.c_str());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    return GMIME_OBJECT(part);
}

// A sender that is an address (or "Name <address>") becomes a mailbox; any other text only a
// display name, written as an empty group so that no address is made up.
void setFrom(GMimeMessage* msg, const std::string& sender) {
    InternetAddressList* from = g_mime_message_get_from(msg);
    if (sender.find('@') != std::string::npos) {
        InternetAddressList* parsed = internet_address_list_parse(nullptr, sender.c_str());
        if (parsed != nullptr && internet_address_list_length(parsed) == 1 &&
            INTERNET_ADDRESS_IS_MAILBOX(internet_address_list_get_address(parsed, 0))) {
            internet_address_list_append(from, parsed);
            g_object_unref(parsed);
            return;
        }
        if (parsed != nullptr) {
            g_object_unref(parsed);
        }
    }
    InternetAddress* group =
        internet_address_group_new(sender.empty() ? "Unknown sender" : sender.c_str());
    internet_address_set_charset(group, "utf-8");
    internet_address_list_add(from, group);
    g_object_unref(group);
}

// The writer puts a group's colon right after an encoded display name ("=?...?=:;"), which
// strict readers take as an encoded word run into other text; a space there is allowed.
void spaceGroupColon(std::string& eml) {
    const std::size_t headerEnd = eml.find("\r\n\r\n");
    std::size_t from = eml.rfind("\r\nFrom: ", headerEnd);
    from = eml.compare(0, 6, "From: ") == 0 ? 0 : from;
    if (from == std::string::npos) {
        return;
    }
    std::size_t end = from + 2;
    while ((end = eml.find("\r\n", end)) != std::string::npos && end < headerEnd &&
           (eml[end + 2] == ' ' || eml[end + 2] == '\t')) {
        end += 2; // folded continuation line
    }
    const std::size_t pos = eml.find("?=:", from);
    if (pos != std::string::npos && pos < end) {
        eml.insert(pos + 2, " ");
    }
}

} // namespace

std::optional<std::int64_t> FiletimeToUnix(std::uint64_t filetime) {
    if (filetime == 0) {
        return std::nullopt;
    }
    const auto secs =
        static_cast<std::int64_t>(filetime / kFiletimeTicksPerSecond) - kFiletimeToUnixSeconds;
    if (secs > kLastSecondOf9999) {
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

std::string WriteEml(const EmlInput& in) {
    initGMime();
    GMimeMessage* msg = g_mime_message_new(TRUE);
    setFrom(msg, in.sender);
    g_mime_message_set_subject(msg, in.subject.c_str(), "utf-8");
    if (const auto secs = FiletimeToUnix(in.filetime)) {
        GDateTime* date = g_date_time_new_from_unix_utc(*secs);
        if (date != nullptr) {
            g_mime_message_set_date(msg, date);
            g_date_time_unref(date);
        }
    }
    for (const auto& [name, value] : in.traceHeaders) {
        g_mime_object_append_header(GMIME_OBJECT(msg), name.c_str(), value.c_str(), nullptr);
    }

    GMimeObject* body = nullptr;
    if (in.plainText && in.html) {
        GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
        GMimeObject* plain = textPart("plain", *in.plainText);
        GMimeObject* html = textPart("html", *in.html);
        g_mime_multipart_add(alt, plain);
        g_mime_multipart_add(alt, html);
        g_object_unref(plain);
        g_object_unref(html);
        body = GMIME_OBJECT(alt);
    } else if (in.html) {
        body = textPart("html", *in.html);
    } else if (in.plainText) {
        body = textPart("plain", *in.plainText);
    }

    const bool hasParts = in.rtf.has_value() || !in.attachments.empty();
    GMimeObject* top = body;
    if (hasParts) {
        GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
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
            GMimeObject* part = binaryPart(GuessContentType(a.name, a.bytes), a.name,
                                           a.bytes.data(), a.bytes.size());
            g_mime_multipart_add(mixed, part);
            g_object_unref(part);
        }
        top = GMIME_OBJECT(mixed);
    }
    if (top == nullptr) {
        // No body in the store: an empty text part, so that readers see a message with no text
        // rather than a malformed one. The trace headers say that the body is missing.
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
    spaceGroupColon(result);
    g_object_unref(out);
    g_mime_format_options_free(options);
    g_object_unref(msg);
    return result;
}

} // namespace edb::conv

// The message writer: headers from mime_header, bodies from mime_body, parts assembled here.
#include "mime/eml_writer.h"

#include "mime/mail_date.h"
#include "mime/mime_body.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace edb::conv {
namespace {

constexpr std::int64_t kFiletimeTicksPerSecond = 10000000;
constexpr std::int64_t kFiletimeToUnixSeconds = 11644473600; // 1601-01-01 to 1970-01-01
constexpr std::int64_t kLastSecondOf2099 = 4102444799;       // 2099-12-31 23:59:59 UTC

// Line ends as LF, one per CR LF, CR or LF: the writer makes each CR LF, and a CR left alone
// would have to be encoded. Text without CR (most of it) is used as it is.
std::string_view toLf(std::string_view s, std::string& storage) {
    std::size_t cr = s.find('\r');
    if (cr == std::string::npos) {
        return s;
    }
    storage.reserve(s.size());
    std::size_t from = 0;
    while (cr != std::string_view::npos) {
        storage.append(s.substr(from, cr - from));
        storage += '\n';
        from = cr + 1 < s.size() && s[cr + 1] == '\n' ? cr + 2 : cr + 1;
        cr = s.find('\r', from);
    }
    storage.append(s.substr(from));
    return storage;
}

// A header line; raw values come from mime_header with "\n " between folded lines.
void appendHeader(std::string& out, std::string_view name, std::string_view raw) {
    out.append(name);
    out += ':';
    std::size_t from = 0;
    for (auto nl = raw.find('\n'); nl != std::string_view::npos; nl = raw.find('\n', from)) {
        out.append(raw.substr(from, nl - from));
        out += "\r\n";
        from = nl + 1;
    }
    out.append(raw.substr(from));
    out += "\r\n";
}

// Text parts are always UTF-8: readers that know only one charset know this one.
void appendTextPart(std::string& out, std::string_view subtype, std::string_view text) {
    std::string storage;
    const std::string_view lf = toLf(text, storage);
    const TextEncoding encoding = ChooseTextEncoding(lf);
    out += "Content-Type: text/";
    out.append(subtype);
    out += "; charset=utf-8\r\n";
    if (const std::string_view name = EncodingName(encoding); !name.empty()) {
        out += "Content-Transfer-Encoding: ";
        out.append(name);
        out += "\r\n";
    }
    out += "\r\n";
    AppendEncoded(out, lf, encoding);
}

void appendBinaryPart(std::string& out, const std::string& type, const std::string& name,
                      const void* data, std::size_t size, const std::string& charset = {}) {
    // Text whose ASCII characters are not ASCII bytes is no text/* part: readers would convert
    // its line ends or show it inline as bytes.
    const bool wide = !AsciiCompatibleCharset(charset);
    const bool whole = type.find('/') != std::string::npos && !wide;
    // A text attachment names the charset its bytes are in, so readers show it right inline.
    const std::string fullType = (whole ? type : std::string("application/octet-stream")) +
                                 (whole && !charset.empty() ? "; charset=" + charset : "");
    appendHeader(out, "Content-Type",
                 ValueWithNameParam("Content-Type", fullType, "name", name));
    appendHeader(out, "Content-Disposition",
                 ValueWithNameParam("Content-Disposition", "attachment", "filename", name));
    out += "Content-Transfer-Encoding: base64\r\n\r\n";
    AppendBase64Lines(out, data, size);
}

std::string_view textOf(const std::optional<std::string>& text) {
    return text ? std::string_view(*text) : std::string_view();
}

std::uint64_t fnv1a(std::uint64_t h, std::string_view bytes) {
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

// Boundaries made from the message itself, so that exporting the same store twice gives the
// same bytes (files can be compared by hash). `salt` changes them when one turns out to occur
// in the content; `contentHash` is the message's part of the hash, made once.
std::uint64_t contentHash(const EmlInput& in) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    h = fnv1a(h, in.messageId);
    h = fnv1a(h, in.subject);
    h = fnv1a(h, textOf(in.plainText));
    return fnv1a(h, textOf(in.html));
}

std::string boundaryFor(std::uint64_t contentHash, const EmlInput& in, const char* kind, int salt) {
    const std::uint64_t h =
        fnv1a(contentHash, std::to_string(in.attachments.size()) + "/" + std::to_string(salt));
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

// A multipart's children are written by `child(i, out)`; each opens with a delimiter line and
// the last is followed by the close delimiter.
template <typename Child>
void appendMultipart(std::string& out, std::string_view subtype, const std::string& boundary,
                     std::size_t count, const Child& child) {
    out += "Content-Type: multipart/";
    out.append(subtype);
    out += "; boundary=\"" + boundary + "\"\r\n\r\n";
    for (std::size_t i = 0; i < count; ++i) {
        out += "--" + boundary + "\r\n";
        child(i, out);
        out += "\r\n";
    }
    out += "--" + boundary + "--\r\n";
}

struct Boundaries {
    std::string alternative;
    std::string mixed;
};

void appendBody(std::string& out, const EmlInput& in, const Boundaries& b) {
    const auto body = [&](std::string& o) {
        if (in.plainText && in.html) {
            appendMultipart(o, "alternative", b.alternative, 2, [&](std::size_t i, std::string& p) {
                appendTextPart(p, i == 0 ? "plain" : "html", i == 0 ? *in.plainText : *in.html);
            });
        } else if (in.html) {
            appendTextPart(o, "html", *in.html);
        } else {
            // No body: an empty text part, so that readers see a message with no text rather
            // than a malformed one.
            appendTextPart(o, "plain", textOf(in.plainText));
        }
    };
    const bool hasBody = in.plainText || in.html;
    if (!in.rtf && in.attachments.empty()) {
        body(out);
        return;
    }
    const std::size_t extra = in.rtf ? 1 : 0;
    const std::size_t first = hasBody ? 1 : 0;
    appendMultipart(out, "mixed", b.mixed, first + extra + in.attachments.size(),
                    [&](std::size_t i, std::string& p) {
                        if (i < first) {
                            body(p);
                        } else if (i < first + extra) {
                            appendBinaryPart(p, "application/rtf", "message.rtf", in.rtf->data(),
                                             in.rtf->size());
                        } else {
                            const EmlAttachment& a = in.attachments[i - first - extra];
                            const std::string type =
                                a.type.empty() ? GuessContentType(a.name, a.bytes) : a.type;
                            appendBinaryPart(p, type, a.name, a.bytes.data(), a.bytes.size(),
                                             a.charset);
                        }
                    });
}

std::string writeEml(const EmlInput& in, const Boundaries& boundaries) {
    std::string out;
    out.reserve(4096 + textOf(in.plainText).size() * 2 + textOf(in.html).size() * 2);
    const EmlAddress from =
        in.from.address.empty() ? ParseSenderText(in.sender, "Unknown sender") : in.from;
    appendHeader(out, "From", MailboxValue("From", from));
    if (!in.to.empty()) {
        std::string value;
        for (std::size_t i = 0; i < in.to.size(); ++i) {
            value += (i ? ",\n" : "") + MailboxValue("To", in.to[i]);
        }
        appendHeader(out, "To", value);
    }
    appendHeader(out, "Subject", UnstructuredValue("Subject", in.subject));
    if (const auto secs = FiletimeToUnix(in.filetime)) {
        appendHeader(out, "Date", " " + FormatMailDate(*secs));
    }
    if (!in.messageId.empty()) {
        appendHeader(out, "Message-ID", " <" + in.messageId + ">");
    }
    for (const auto& [name, value] : in.traceHeaders) {
        appendHeader(out, name, UnstructuredValue(name, value));
    }
    out += "MIME-Version: 1.0\r\n";
    appendBody(out, in, boundaries);
    return out;
}

} // namespace

std::optional<std::int64_t> FiletimeToUnix(std::uint64_t filetime) {
    const auto secs =
        static_cast<std::int64_t>(filetime / kFiletimeTicksPerSecond) - kFiletimeToUnixSeconds;
    if (secs < 0 || secs > kLastSecondOf2099) {
        return std::nullopt;
    }
    return secs;
}

std::string WriteEml(const EmlInput& in) {
    // A boundary that the content happens to hold would cut the message: try another salt until
    // each boundary occurs only as the delimiters written for it.
    const bool alternative = in.plainText && in.html;
    const bool mixed = in.rtf || !in.attachments.empty();
    const std::size_t mixedParts =
        (in.plainText || in.html ? 1 : 0) + (in.rtf ? 1 : 0) + in.attachments.size();
    const std::uint64_t hash = contentHash(in);
    std::string eml;
    for (int salt = 0;; ++salt) {
        const Boundaries b{boundaryFor(hash, in, "a", salt), boundaryFor(hash, in, "m", salt)};
        eml = writeEml(in, b);
        const bool clean = (!alternative || countOf(eml, "\n--" + b.alternative) == 3) &&
                           (!mixed || countOf(eml, "\n--" + b.mixed) == mixedParts + 1);
        if (clean) {
            return eml;
        }
    }
}

} // namespace edb::conv

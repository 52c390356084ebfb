// Attachment types: a table of extensions, then signatures. The table holds what desktop mail
// clients and file managers call these files, so a reader opens them with the right program.
#include "mime/content_types.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace edb::conv {
namespace {

constexpr std::size_t kSniffBytes = 4096;

using Entry = std::pair<std::string_view, std::string_view>;

// Sorted by extension (lower case) for a binary search.
constexpr std::array kByExtension = std::to_array<Entry>({
    {"7z", "application/x-7z-compressed"},
    {"avi", "video/x-msvideo"},
    {"bmp", "image/bmp"},
    {"cab", "application/vnd.ms-cab-compressed"},
    {"css", "text/css"},
    {"csv", "text/csv"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"eml", "message/rfc822"},
    {"eps", "image/x-eps"},
    {"exe", "application/x-ms-dos-executable"},
    {"gif", "image/gif"},
    {"gz", "application/gzip"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"ico", "image/vnd.microsoft.icon"},
    {"ics", "text/calendar"},
    {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"js", "application/javascript"},
    {"json", "application/json"},
    {"log", "text/x-log"},
    {"mdb", "application/vnd.ms-access"},
    {"mov", "video/quicktime"},
    {"mp3", "audio/mpeg"},
    {"mp4", "video/mp4"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"p7m", "application/pkcs7-mime"},
    {"p7s", "application/pkcs7-signature"},
    {"pdf", "application/pdf"},
    {"png", "image/png"},
    {"pps", "application/vnd.ms-powerpoint"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"ps", "application/postscript"},
    {"pub", "application/vnd.ms-publisher"},
    {"rar", "application/vnd.rar"},
    {"rtf", "application/rtf"},
    {"svg", "image/svg+xml"},
    {"tar", "application/x-tar"},
    {"tgz", "application/x-compressed-tar"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"txt", "text/plain"},
    {"vcf", "text/vcard"},
    {"vsd", "application/vnd.visio"},
    {"wav", "audio/x-wav"},
    {"webp", "image/webp"},
    {"wma", "audio/x-ms-wma"},
    {"wmv", "video/x-ms-wmv"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xml", "application/xml"},
    {"xps", "application/vnd.ms-xpsdocument"},
    {"zip", "application/zip"},
});

// Signatures at the start of the bytes.
constexpr std::array kBySignature = std::to_array<Entry>({
    {"%PDF-", "application/pdf"},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", "application/x-ole-storage"},
    {"PK\x03\x04", "application/zip"},
    {"\x89PNG\r\n\x1A\n", "image/png"},
    {"\xFF\xD8\xFF", "image/jpeg"},
    {"GIF87a", "image/gif"},
    {"GIF89a", "image/gif"},
    {"{\\rtf", "application/rtf"},
    {"BM", "image/bmp"},
    {"II*", "image/tiff"},
    {"MM\0*", "image/tiff"},
    {"\x1F\x8B", "application/gzip"},
    {"Rar!\x1A\x07", "application/vnd.rar"},
    {"7z\xBC\xAF\x27\x1C", "application/x-7z-compressed"},
    {"MZ", "application/x-ms-dos-executable"},
    {"ID3", "audio/mpeg"},
    {"BEGIN:VCARD", "text/vcard"},
    {"BEGIN:VCALENDAR", "text/calendar"},
    {"<?xml", "application/xml"},
    {"From:", "message/rfc822"},
    {"Received:", "message/rfc822"},
    {"Return-Path:", "message/rfc822"},
});

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string_view byExtension(const std::string& name) {
    const std::string n = lower(name);
    if (n.size() > 7 && n.ends_with(".tar.gz")) {
        return "application/x-compressed-tar";
    }
    const auto dot = n.rfind('.');
    if (dot == std::string::npos || dot + 1 == n.size()) {
        return {};
    }
    const std::string_view ext = std::string_view(n).substr(dot + 1);
    const auto* it =
        std::lower_bound(kByExtension.begin(), kByExtension.end(), ext,
                         [](const Entry& e, std::string_view x) { return e.first < x; });
    return it != kByExtension.end() && it->first == ext ? it->second : std::string_view{};
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == prefix;
}

// Plain ASCII text (a UTF-8 byte order mark allowed): tabs, line ends and printable characters.
bool looksLikeText(std::string_view s) {
    if (s.starts_with("\xEF\xBB\xBF")) {
        s.remove_prefix(3);
    }
    return std::all_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r' || c == '\f' ||
               c == '\b';
    });
}

} // namespace

std::string GuessContentType(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    if (const auto type = byExtension(name); !type.empty()) {
        return std::string(type);
    }
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                                std::min(bytes.size(), kSniffBytes));
    for (const auto& [signature, type] : kBySignature) {
        if (head.starts_with(signature)) {
            return std::string(type);
        }
    }
    if (startsWithNoCase(head, "<html") || startsWithNoCase(head, "<!doctype html")) {
        return "text/html";
    }
    if (!head.empty() && looksLikeText(head)) {
        return "text/plain";
    }
    return "application/octet-stream";
}

bool AsciiCompatibleCharset(std::string_view charset) {
    const std::string c = lower(charset);
    for (const std::string_view wide : {"utf-16", "utf16", "utf-32", "utf32", "ucs-2", "ucs2",
                                        "ucs-4", "ucs4", "iso-10646-ucs"}) {
        if (c.starts_with(wide)) {
            return false;
        }
    }
    return true;
}

} // namespace edb::conv

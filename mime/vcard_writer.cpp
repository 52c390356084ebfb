#include "mime/vcard_writer.h"

namespace edb::conv {
namespace {

constexpr std::size_t kFoldAt = 75; // octets per line before a continuation

std::string escape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' || c == ',' || c == ';') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
                ++i;
            }
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Folds at kFoldAt octets without splitting a UTF-8 character.
void line(std::string& out, const std::string& content) {
    std::size_t start = 0;
    std::size_t limit = kFoldAt;
    while (content.size() - start > limit) {
        std::size_t cut = start + limit;
        while (cut > start && (static_cast<unsigned char>(content[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out.append(content, start, cut - start);
        out += "\r\n ";
        start = cut;
        limit = kFoldAt - 1; // the leading space counts
    }
    out.append(content, start, std::string::npos);
    out += "\r\n";
}

} // namespace

std::string WriteVCard(const ContactEntry& c) {
    std::string out;
    line(out, "BEGIN:VCARD");
    line(out, "VERSION:3.0");
    std::string fn = c.fullName;
    if (fn.empty()) {
        fn = c.firstName.empty() ? c.lastName : c.firstName + " " + c.lastName;
    }
    line(out, "FN:" + escape(fn));
    line(out, "N:" + escape(c.lastName) + ";" + escape(c.firstName) + ";;;");
    if (!c.homePhone.empty()) {
        line(out, "TEL;TYPE=HOME,VOICE:" + escape(c.homePhone));
    }
    if (!c.businessPhone.empty()) {
        line(out, "TEL;TYPE=WORK,VOICE:" + escape(c.businessPhone));
    }
    if (!c.mobilePhone.empty()) {
        line(out, "TEL;TYPE=CELL,VOICE:" + escape(c.mobilePhone));
    }
    if (!c.businessAddress.empty()) {
        // The store keeps the address as one text; it goes into the street part.
        line(out, "ADR;TYPE=WORK:;;" + escape(c.businessAddress) + ";;;;");
    }
    if (!c.emailAddress.empty()) {
        line(out, "EMAIL;TYPE=INTERNET:" + escape(c.emailAddress));
    }
    line(out, "END:VCARD");
    return out;
}

} // namespace edb::conv

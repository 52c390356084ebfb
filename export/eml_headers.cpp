#include "export/eml_headers.h"

#include "export/eml_writer.h"

#include <gmime/gmime.h>

namespace edb::conv {
namespace {

std::string addresses(InternetAddressList* list) {
    if (list == nullptr || internet_address_list_length(list) == 0) {
        return {};
    }
    char* text = internet_address_list_to_string(list, nullptr, FALSE);
    std::string out = text != nullptr ? text : "";
    g_free(text);
    // A display name without an address is written as an empty group: show the name alone.
    if (!out.empty() && out.back() == ';') {
        out.pop_back();
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        if (!out.empty() && out.back() == ':') {
            out.pop_back();
        }
    }
    return out;
}

} // namespace

EmlHeaders ReadEmlHeaders(const std::string& eml) {
    InitGMime();
    EmlHeaders h;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(eml.data(), eml.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    if (msg != nullptr) {
        h.from = addresses(g_mime_message_get_from(msg));
        h.to = addresses(g_mime_message_get_to(msg));
        if (const char* date = g_mime_object_get_header(GMIME_OBJECT(msg), "Date")) {
            h.date = date;
        }
        if (const char* subject = g_mime_message_get_subject(msg)) {
            h.subject = subject;
        }
        g_object_unref(msg);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return h;
}

} // namespace edb::conv

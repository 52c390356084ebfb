#include "cli/json_catalog.h"

#include <cstdio>
#include <mutex>

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

json catalogToJson(const edb::StoreCatalog& cat, const edb::ScanResult& result) {
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

} // namespace edbcli

#include "frontend/folder_roles.h"

#include "catalog/catalog.h"
#include "io/text.h"

#include <string>

namespace edb {

FolderRole FolderRoleOf(std::string_view name, char kind) {
    const std::string upper = AsciiUpper(name);
    // The kinds come first: a folder of appointments is a calendar whatever its name.
    if (upper == "CALENDAR" || kind == kKindAppointment) {
        return FolderRole::Calendar;
    }
    if (upper == "CONTACTS" || kind == kKindContact) {
        return FolderRole::Contacts;
    }
    static constexpr struct {
        const char* name;
        FolderRole role;
    } kNamed[] = {
        {"DELETED ITEMS", FolderRole::DeletedItems}, {"DRAFTS", FolderRole::Drafts},
        {"INBOX", FolderRole::Inbox},                {"JOURNAL", FolderRole::Journal},
        {"JUNK E-MAILS", FolderRole::JunkEmail},     {"NOTES", FolderRole::Notes},
        {"OUTBOX", FolderRole::Outbox},              {"SENT ITEMS", FolderRole::SentItems},
        {"TASKS", FolderRole::Tasks},                {"SYNC ISSUES", FolderRole::SyncIssues},
    };
    for (const auto& n : kNamed) {
        if (upper == n.name) {
            return n.role;
        }
    }
    return FolderRole::Other;
}

bool IsSentItems(std::string_view name) {
    return AsciiUpper(name) == "SENT ITEMS";
}

} // namespace edb

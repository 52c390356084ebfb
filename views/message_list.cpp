#include "views/message_list.h"

#include "catalog/tree_build.h"
#include "frontend/folder_roles.h"
#include "io/local_clock.h"

namespace edb::views {

ListLayout ListLayoutFor(const FolderNode& folder) {
    return folder.kind == kKindContact ? ListLayout::Contacts : ListLayout::Messages;
}

std::vector<ListColumn> ListColumnsFor(const FolderNode& folder) {
    if (ListLayoutFor(folder) == ListLayout::Contacts) {
        return {{"No", 50, SortBy::Number},
                {"Full name", 80},
                {"First name", 80},
                {"Last name", 80},
                {"Home Phone No", 80},
                {"Business Phone No", 80},
                {"Mobile Phone No", 80},
                {"Business Address", 80},
                {"Email Address", 80},
                {"Date", 80, SortBy::Time}};
    }
    // In Sent Items the stored name is the recipient's.
    return {{"No", 50, SortBy::Number},
            {IsSentItems(folder.name) ? "To" : "From", 130},
            {"Subject", 180},
            {"Date", 150, SortBy::Time}};
}

std::vector<ListColumn> InitialMessageColumns() {
    // Until a folder is listed the heading names what the column will hold.
    return {{"No", 50, SortBy::Number},
            {"From", 130},
            {"E-mail Subject", 180},
            {"Date", 150, SortBy::Time}};
}

std::vector<ListColumn> MailboxListColumns() {
    return {{"User Mailbox Name", 640}};
}

std::vector<ListColumn> FindResultColumns() {
    return {{"Mailbox", 110}, {"Folder", 150}, {"From", 140}, {"Subject", 200},
            {"Date", 170, SortBy::Time}};
}

RowKind RowKindOf(const MessageEntry& m) {
    if (m.kind == kKindAppointment) {
        return RowKind::Appointment;
    }
    if (m.kind == kKindContact) {
        return RowKind::Contact;
    }
    return m.attachments.empty() ? RowKind::Mail : RowKind::MailWithAttachments;
}

int RowImageIndex(RowKind kind) {
    switch (kind) {
    case RowKind::Appointment:
        return 0;
    case RowKind::Contact:
        return 1;
    case RowKind::MailWithAttachments:
        return 16;
    case RowKind::Mail:
        break;
    }
    return 12;
}

const char* RowKindText(RowKind kind) {
    switch (kind) {
    case RowKind::Appointment:
        return "appointment";
    case RowKind::Contact:
        return "contact";
    case RowKind::MailWithAttachments:
        return "mail, attached files";
    case RowKind::Mail:
        break;
    }
    return "mail";
}

std::optional<std::uint64_t> SortKey(const ListRow& row, const std::vector<ListColumn>& columns,
                                     std::size_t column) {
    if (column >= columns.size()) {
        return std::nullopt;
    }
    switch (columns[column].sort) {
    case SortBy::Number:
        return row.number;
    case SortBy::Time:
        // A contact without its fields has no date cell: nothing to sort by.
        if (column < row.cells.size()) {
            return row.filetime;
        }
        return std::nullopt;
    case SortBy::Text:
        break;
    }
    return std::nullopt;
}

std::vector<std::optional<std::uint64_t>> SortKeys(const ListRow& row,
                                                   const std::vector<ListColumn>& columns) {
    std::vector<std::optional<std::uint64_t>> keys;
    for (std::size_t c = 0; c < row.cells.size(); ++c) {
        keys.push_back(SortKey(row, columns, c));
    }
    return keys;
}

bool CellLess(const std::optional<std::uint64_t>& aKey, std::string_view aFolded,
              const std::optional<std::uint64_t>& bKey, std::string_view bFolded) {
    if (aKey.has_value() && bKey.has_value()) {
        return *aKey < *bKey;
    }
    if (aKey.has_value() != bKey.has_value()) {
        return bKey.has_value(); // cells without a key (no date) sort first
    }
    return aFolded < bFolded;
}

void ForEachMessageRow(const StoreCatalog& catalog, const FolderNode& folder,
                       const std::function<bool(ListRow&&)>& onRow) {
    std::size_t number = 0;
    for (const auto& m : catalog.messages) {
        if (m.folderId != folder.id) {
            continue;
        }
        ++number;
        ListRow row;
        row.number = number;
        row.entry = &m;
        row.cells.push_back(std::to_string(number));
        catalog.messages.readFields([&] {
            // Sender, contacts, attachments and the FILETIME may still change under the scan.
            row.kind = RowKindOf(m);
            row.filetime = m.filetime;
            if (m.kind == kKindContact) {
                if (!m.contacts.empty()) {
                    const ContactEntry& c = m.contacts.front();
                    for (const std::string* field :
                         {&c.fullName, &c.firstName, &c.lastName, &c.homePhone, &c.businessPhone,
                          &c.mobilePhone, &c.businessAddress, &c.emailAddress}) {
                        row.cells.push_back(*field);
                    }
                    row.cells.push_back(ListDateText(m.filetime));
                }
            } else {
                row.cells.push_back(m.sender);
                row.cells.push_back(m.subject);
                row.cells.push_back(ListDateText(m.filetime));
            }
        });
        if (!onRow(std::move(row))) {
            return;
        }
    }
}

MessageListing ListMessages(const StoreCatalog& catalog, std::size_t folder) {
    MessageListing listing;
    listing.folder = FolderAt(catalog, folder);
    if (listing.folder == nullptr) {
        return listing;
    }
    listing.folderFound = true;
    listing.layout = ListLayoutFor(*listing.folder);
    listing.columns = ListColumnsFor(*listing.folder);
    ForEachMessageRow(catalog, *listing.folder, [&](ListRow&& row) {
        listing.rows.push_back(std::move(row));
        return true;
    });
    return listing;
}

std::string ListDateText(std::uint64_t filetime) {
    // No local reading (top bit set, beyond the system's range) gives no text.
    LocalClock local;
    if (!LocalClockAt(filetime, local)) {
        return {};
    }
    const std::int64_t year = local.year;
    if (year < 1601 || year > 9999 || local.weekday < 0 || local.weekday > 6) {
        return {};
    }
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const int hour12 = local.hour % 12 == 0 ? 12 : local.hour % 12;
    const char* half = local.hour < 12 ? "AM" : "PM";
    std::string text = kDays[local.weekday];
    text += ' ' + std::to_string(local.day) + '/' + std::to_string(local.month) + '/' +
            std::to_string(year) + ' ' + std::to_string(hour12) + ':' +
            std::to_string(local.minute) + ':' + std::to_string(local.second) + ' ' + half;
    return text;
}

} // namespace edb::views

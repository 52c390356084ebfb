#include "catalog/list_rows.h"

#include "io/local_clock.h"

namespace edb {

ListLayout ListLayoutFor(const FolderNode& folder) {
    return folder.kind == kKindContact ? ListLayout::Contacts : ListLayout::Messages;
}

std::vector<ListColumn> ListColumnsFor(const FolderNode& folder) {
    if (ListLayoutFor(folder) == ListLayout::Contacts) {
        return {{"No"},
                {"Full name"},
                {"First name"},
                {"Last name"},
                {"Home Phone No"},
                {"Business Phone No"},
                {"Mobile Phone No"},
                {"Business Address"},
                {"Email Address"},
                {"Date"}};
    }
    return {{"No"}, {folder.name == "Sent Items" ? "To" : "From"}, {"Subject"}, {"Date"}};
}

int MessageRowImage(const MessageEntry& m) {
    if (m.kind == kKindAppointment) {
        return 0;
    }
    if (m.kind == kKindContact) {
        return 1;
    }
    return m.attachments.empty() ? 12 : 16;
}

const FolderNode* FolderAt(const StoreCatalog& catalog, std::size_t index) {
    std::size_t i = 0;
    for (const auto& node : catalog.folderList) {
        if (i == index) {
            return &node;
        }
        ++i;
    }
    return nullptr;
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
            row.image = MessageRowImage(m);
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

} // namespace edb

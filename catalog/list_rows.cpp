#include "catalog/list_rows.h"

#include <ctime>

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
    // FILETIME values with the top bit set have no calendar time.
    if ((filetime >> 63) != 0) {
        return {};
    }
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kSeconds1601To1970 = 11'644'473'600;
    const std::int64_t unixSeconds =
        static_cast<std::int64_t>(filetime) / kTicksPerSecond - kSeconds1601To1970;
    const auto t = static_cast<std::time_t>(unixSeconds);
    if (static_cast<std::int64_t>(t) != unixSeconds) {
        return {};
    }
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) {
        return {};
    }
#else
    if (localtime_r(&t, &local) == nullptr) {
        return {};
    }
#endif
    const std::int64_t year = std::int64_t{local.tm_year} + 1900;
    if (year < 1601 || year > 9999 || local.tm_wday < 0 || local.tm_wday > 6) {
        return {};
    }
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    const char* half = local.tm_hour < 12 ? "AM" : "PM";
    std::string text = kDays[local.tm_wday];
    text += ' ' + std::to_string(local.tm_mday) + '/' + std::to_string(local.tm_mon + 1) + '/' +
            std::to_string(year) + ' ' + std::to_string(hour12) + ':' +
            std::to_string(local.tm_min) + ':' + std::to_string(local.tm_sec) + ' ' + half;
    return text;
}

} // namespace edb

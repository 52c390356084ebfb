#include "frontend/list_columns.h"

#include <array>

namespace edb {

int ListColumnWidth(ListLayout layout, std::size_t column) {
    // No, From/To, Subject, Date; No and the nine contact fields with their date.
    static constexpr std::array kMessages{50, 130, 180, 150};
    static constexpr std::array kContacts{50, 80, 80, 80, 80, 80, 80, 80, 80, 80};
    if (layout == ListLayout::Contacts) {
        return column < kContacts.size() ? kContacts[column] : 0;
    }
    return column < kMessages.size() ? kMessages[column] : 0;
}

} // namespace edb

#include "views/destinations.h"

#include <array>

namespace edb::views {
namespace {

constexpr std::array<DestinationChoice, 5> kChoices{{
    {DestinationKind::EmlFolder, "A folder of .eml files"},
    {DestinationKind::Mbox, "mbox files (for importing into a mail client)"},
    {DestinationKind::Pst, "PST file (Outlook)"},
    {DestinationKind::Maildir, "A Maildir"},
    {DestinationKind::Imap, "An IMAP server"},
}};

} // namespace

std::span<const DestinationChoice> DestinationChoices() {
    return kChoices;
}

const char* DestinationCaption(DestinationKind kind) {
    for (const DestinationChoice& c : kChoices) {
        if (c.kind == kind) {
            return c.caption;
        }
    }
    return kChoices[0].caption;
}

DestinationKind DestinationKindFromNumber(int n) {
    for (const DestinationChoice& c : kChoices) {
        if (static_cast<int>(c.kind) == n) {
            return c.kind;
        }
    }
    return DestinationKind::EmlFolder;
}

bool NeedsOutputFolder(DestinationKind kind) {
    return kind != DestinationKind::Imap;
}

std::string DestinationKey(DestinationKind kind, const std::string& where) {
    switch (kind) {
    case DestinationKind::Mbox:
        return "mbox:" + where;
    case DestinationKind::Maildir:
        return "maildir:" + where;
    case DestinationKind::Imap:
        return "imap:" + where;
    case DestinationKind::Pst:
        return "pst:" + where;
    case DestinationKind::EmlFolder:
        break;
    }
    return "eml:" + where;
}

} // namespace edb::views

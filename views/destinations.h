#pragma once
// Where Convert can write, as both windows offer it: the choices in the order they are shown,
// their captions, which of them need an output folder, and the key by which the session tells
// one destination from another (so "Write them again?" asks about the same place in both).
#include <cstdint>
#include <span>
#include <string>

namespace edb::views {

// The numbers are stored in the window's settings: never renumbered.
enum class DestinationKind : std::uint8_t { EmlFolder = 0, Mbox = 1, Maildir = 2, Imap = 3, Pst = 4 };

struct DestinationChoice {
    DestinationKind kind;
    const char* caption;
};

// In the order the destination dialog lists them.
[[nodiscard]] std::span<const DestinationChoice> DestinationChoices();
[[nodiscard]] const char* DestinationCaption(DestinationKind kind);
// The stored number read back; anything unknown is a folder of .eml files.
[[nodiscard]] DestinationKind DestinationKindFromNumber(int n);
// Every choice but the upload writes into a folder on this computer.
[[nodiscard]] bool NeedsOutputFolder(DestinationKind kind);
// "eml:/out", "pst:/out", "imap:imap://user@host/Restored": `where` is the cleaned folder path
// or the server address.
[[nodiscard]] std::string DestinationKey(DestinationKind kind, const std::string& where);

} // namespace edb::views

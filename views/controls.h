#pragma once
// Which of the main window's commands are enabled, from the session alone: both windows set
// their buttons and menu items from this after every step, so no window keeps a rule of its own.
#include "session/session.h"

namespace edb::views {

struct ControlStates {
    bool browse = false;   // Browse and File > Open
    bool stop = false;
    bool next = false;
    bool nextUserMailbox = false;
    bool backUserMailbox = false;
    bool convert = false;
    bool find = false;
    bool save = false; // File > Save stays greyed: there is nothing it could save
    bool operator==(const ControlStates&) const = default;
};

[[nodiscard]] ControlStates ControlStatesOf(const session::Session& s);

// What Enter and a double click do in each of the window's lists.
enum class ListAction : std::uint8_t {
    None,
    Next,        // on a mailbox row: add it, as Next does
    ListFolder,  // on a folder: list its messages
    ViewMessage, // on a message row, or a row of Find's results: open the viewer
};
enum class ListKind : std::uint8_t { Mailboxes, Folders, Messages, FindResults };
// The action on the current row of `list`; None when there is no row. Outside every list the
// window's Enter keeps its old meaning (the end of the run).
[[nodiscard]] ListAction ActivateAction(ListKind list, bool hasRow);

} // namespace edb::views

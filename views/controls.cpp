#include "views/controls.h"

namespace edb::views {

using session::Command;
using session::Phase;

ControlStates ControlStatesOf(const session::Session& s) {
    ControlStates c;
    c.browse = s.allowed(Command::Open);
    // Stop stays enabled once a scan has ended well or was stopped, as the users know it; a
    // file that failed takes the window back to where it started.
    switch (s.phase()) {
    case Phase::Scanning:
    case Phase::Stopped:
        c.stop = true;
        break;
    case Phase::Scanned:
        c.stop = s.lastScanEnd() == session::ScanEnd::Complete;
        break;
    default:
        break;
    }
    c.next = s.canAddPicked();
    c.nextUserMailbox =
        s.allowed(Command::NextUserMailbox) && s.mailboxAtStep(s.step() + 1).has_value();
    c.backUserMailbox = s.allowed(Command::BackUserMailbox) && s.step() > 1;
    c.convert = s.allowed(Command::Convert) && !s.chosenMailboxes().empty();
    c.find = s.allowed(Command::Find);
    return c;
}

ListAction ActivateAction(ListKind list, bool hasRow) {
    if (!hasRow) {
        return ListAction::None;
    }
    switch (list) {
    case ListKind::Mailboxes:
        return ListAction::Next;
    case ListKind::Folders:
        return ListAction::ListFolder;
    case ListKind::Messages:
    case ListKind::FindResults:
        return ListAction::ViewMessage;
    }
    return ListAction::None;
}

} // namespace edb::views

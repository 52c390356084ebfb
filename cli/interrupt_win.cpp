// Console control events for InterruptGuard: Ctrl+C and Ctrl+Break set the flag; a second one
// falls through to the system's handler, which ends the process. (A closing console window
// ends the process whatever the handler does, so it is left to the system.)
#include "cli/interrupt.h"

#include <windows.h>

namespace edbcli {
namespace {

std::atomic<std::atomic<bool>*> g_flag{nullptr};
std::atomic<edb::CancelToken*> g_token{nullptr};
std::atomic<int> g_status{0};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onControl(DWORD event) {
    int status = 0;
    switch (event) {
    case CTRL_C_EVENT:
        status = 130; // the status a POSIX shell reports for Ctrl+C, as the Linux build gives
        break;
    case CTRL_BREAK_EVENT:
        status = 143;
        break;
    default:
        return FALSE;
    }
    int none = 0;
    if (!g_status.compare_exchange_strong(none, status)) {
        return FALSE; // a second request: end at once
    }
    if (std::atomic<bool>* flag = g_flag.load()) {
        flag->store(true);
    }
    if (edb::CancelToken* token = g_token.load()) {
        token->cancel(edb::StopReason::Interrupted);
    }
    return TRUE;
}

} // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& flag) {
    g_flag.store(&flag);
    g_status.store(0);
    SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptGuard::InterruptGuard(edb::CancelToken& token) {
    g_token.store(&token);
    g_status.store(0);
    SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptGuard::~InterruptGuard() {
    SetConsoleCtrlHandler(onControl, FALSE);
    g_flag.store(nullptr);
    g_token.store(nullptr);
}

int InterruptGuard::exitStatus() {
    return g_status.load();
}

} // namespace edbcli

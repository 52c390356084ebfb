// Signal handling for InterruptGuard: SIGINT and SIGTERM set the flag; SIGPIPE and SIGXFSZ are
// ignored so a closed connection or a file-size limit is a write error we report, not a death.
#include "cli/interrupt.h"

#include <csignal>

namespace edbcli {
namespace {

std::atomic<bool>* g_flag = nullptr;
edb::CancelToken* g_token = nullptr;
volatile std::sig_atomic_t g_signal = 0;

struct sigaction g_saved[4];
constexpr int kSignals[4] = {SIGINT, SIGTERM, SIGPIPE, SIGXFSZ};

extern "C" void onStop(int sig) {
    g_signal = sig;
    if (g_flag != nullptr) {
        g_flag->store(true);
    }
    if (g_token != nullptr) {
        g_token->cancel(edb::StopReason::Interrupted); // atomics only
    }
}

void install() {
    g_signal = 0;
    for (int i = 0; i < 4; ++i) {
        struct sigaction sa {};
        sigemptyset(&sa.sa_mask);
        if (i < 2) {
            sa.sa_handler = onStop;
            sa.sa_flags = SA_RESTART | SA_RESETHAND;
        } else {
            sa.sa_handler = SIG_IGN;
        }
        sigaction(kSignals[i], &sa, &g_saved[i]);
    }
}

} // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& flag) {
    g_flag = &flag;
    install();
}

InterruptGuard::InterruptGuard(edb::CancelToken& token) {
    g_token = &token;
    install();
}

InterruptGuard::~InterruptGuard() {
    for (int i = 0; i < 4; ++i) {
        sigaction(kSignals[i], &g_saved[i], nullptr);
    }
    g_flag = nullptr;
    g_token = nullptr;
}

int InterruptGuard::exitStatus() {
    return g_signal != 0 ? 128 + static_cast<int>(g_signal) : 0;
}

} // namespace edbcli

#include "StopSignals.h"

#include <csignal>

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    stopRequested = true;
}

// Caught rather than ignored: an ignored signal would stay ignored in the programs started from here.
extern "C" void OnFailedWriteSignal(int) {}

void Catch(int signal, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

} // namespace

const std::atomic<bool>& InstallStopSignals() {
    // Without SA_RESTART: a write blocked on a full pipe returns, so that the stop is seen.
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) Catch(s, OnStopSignal, 0);
    for (const int s : {SIGPIPE, SIGXFSZ}) Catch(s, OnFailedWriteSignal, SA_RESTART);
    return stopRequested;
}

#include "process_signals.h"

#include <signal.h>

#include <atomic>

namespace tevoli::systemaudio {
namespace {

std::atomic<StopRequest*> signalTarget{nullptr};

void onStopSignal(int) {
    if (StopRequest* request = signalTarget.load()) request->requestFromSignal();
}

}  // namespace

void ignoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

void stopOnSignals(StopRequest& request) {
    signalTarget = &request;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tevoli::systemaudio

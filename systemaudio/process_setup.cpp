#include "process_setup.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace tevoli::systemaudio {
namespace {

std::atomic<StopRequest*> signalTarget{nullptr};

void onStopSignal(int) {
    if (StopRequest* request = signalTarget.load()) request->requestFromSignal();
}

}  // namespace

void reserveStandardStreams() {
    // Each opened the wrong way round, so using it fails as using a closed stream would.
    constexpr int modes[] = {O_WRONLY, O_RDONLY, O_RDONLY};
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        const int opened = ::open("/dev/null", modes[fd]);
        if (opened != fd && opened >= 0) ::close(opened);
    }
}

void ignoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

// Setting the threshold also turns its adjustment off.
void returnLargeBlocksToTheSystem() { mallopt(M_MMAP_THRESHOLD, 256 * 1024); }

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

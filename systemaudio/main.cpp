// tevoli-systemaudio: streams the mix of everything the machine plays on standard
// output, as a header line and raw PCM, until stopped.
#include <unistd.h>

#include <cstdlib>

#include "capture.h"
#include "fail.h"
#include "linux_audio_tap.h"
#include "process_setup.h"

using namespace tevoli::systemaudio;

namespace {

Capture* running = nullptr;

void cleanup() {
    if (running != nullptr) running->cleanup();
}

}  // namespace

int main() {
    // An orphan is adopted by the nearest subreaper, not always by process 1.
    const pid_t parent = getppid();
    reserveStandardStreams();
    ignoreBrokenPipe();
    returnLargeBlocksToTheSystem();

    LinuxAudioTap tap;
    Capture capture(tap, Streams{}, [parent] { return getppid() != parent; });
    const Capture::Outcome outcome = capture.start();
    if (outcome.kind == Capture::Outcome::outputClosed) std::exit(0);
    if (outcome.kind == Capture::Outcome::failed) tevoli::fail(failPrefix, outcome.message);

    stopOnSignals(capture.stopRequest());
    running = &capture;
    std::atexit(cleanup);

    const Ending ending = capture.waitForEnd();
    if (!ending.message.empty()) tevoli::fail(failPrefix, ending.message);
    // exit, not return: the capture and its threads stay alive while cleanup runs.
    std::exit(ending.status);
}

// tevoli-systemaudio: streams the mix of everything the machine plays on standard
// output, as a header line and raw PCM, until stopped.
#include <unistd.h>

#include <cstdlib>

#include "capture.h"
#include "linux_audio_tap.h"
#include "process_setup.h"

using namespace tevoli::systemaudio;

int main() {
    LinuxAudioTap tap;
    Capture capture(tap, [] { return static_cast<long>(getppid()); });
    reserveStandardStreams();
    ignoreBrokenPipe();
    returnLargeBlocksToTheSystem();

    // exit, not return: a writer stuck on a full pipe must not hold the end.
    std::exit(tevoli::finish(capture.run(stopOnSignals), kFailPrefix));
}

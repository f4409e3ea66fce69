#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "linux_speech.h"
#include "runner.h"
#include "serve_loop.h"

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::signal(SIGPIPE, SIG_IGN);  // a host that stops reading ends the loop through the failed write
    auto engine = tevoli::asr::makePocketSphinxEngine();
    tevoli::asr::Runner runner(*engine);
    const bool ok = tevoli::asr::serveLoop(STDIN_FILENO, STDOUT_FILENO, runner);
    // Open streams are abandoned at the end of input, not finished.
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}

// tevoli-apple-asr: JSON-lines transcription server over PocketSphinx.
#include <unistd.h>

#include <csignal>

#include "json_lines_server.h"
#include "linux_speech.h"
#include "runner.h"

int main() {
    std::signal(SIGPIPE, SIG_IGN);  // a host that stops reading ends the loop through the failed write
    auto engine = tevoli::asr::makePocketSphinxEngine();
    tevoli::asr::Runner runner(*engine);
    // Open streams are abandoned at the end of input, not finished.
    return tevoli::finish(tevoli::serveJsonLines(STDIN_FILENO, STDOUT_FILENO, runner.lineServer()), "");
}

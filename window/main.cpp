// tevoli-window: lists the windows that can be recorded, captures one, or watches one.
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "fail.h"
#include "linux_window_system.h"
#include "window_program.h"

int main(int argc, char** argv) {
    using namespace tevoli::window;
    CommandLine commandLine;
    switch (parseCommandLine(std::vector<std::string>(argv, argv + argc), commandLine)) {
        case ParseStatus::watchUsage: tevoli::fail("", kWatchUsage);
        case ParseStatus::captureUsage: tevoli::fail("", kCaptureUsage);
        case ParseStatus::ok: break;
    }
    // A host that closes our output still ends watch mode through "quit" or end of input.
    std::signal(SIGPIPE, SIG_IGN);
    const tevoli::Ending ending =
        runWindowProgram(commandLine, std::make_shared<LinuxWindowSystem>(), STDIN_FILENO, STDOUT_FILENO);
    return tevoli::finish(ending, "");
}

#pragma once
#include <chrono>
#include <memory>

#include "command_line.h"
#include "ending.h"
#include "window_system.h"

namespace tevoli::window {

// Every wait on the display is bounded.
struct Timeouts {
    std::chrono::milliseconds list{4000};            // then the window server's list is used
    std::chrono::milliseconds listLastResort{8000};  // then an empty list: that list hangs too
    std::chrono::milliseconds start{8000};           // for a capture, or for watch mode to run
    std::chrono::milliseconds frameInterval{500};    // watch mode grabs a frame at most this often
    std::chrono::milliseconds frameWait{2000};       // a shot waits this long for a first frame
};

// Runs the chosen mode and returns how the process ends. Watch mode reads its
// commands from `inFd` and writes "READY" and its replies to `outFd` as it goes.
// Display calls run on threads of their own; one stuck in a display that never
// answers is left behind, sharing `system`.
Ending runWindowProgram(const CommandLine& commandLine, std::shared_ptr<WindowSystem> system, int inFd, int outFd,
                        const Timeouts& timeouts = {});

}  // namespace tevoli::window

#pragma once
#include "command_line.h"
#include "window_system.h"

namespace tevoli::window {

// Runs the chosen mode to its end; the process exits from inside, with status 0 or
// through `fail`. `system` is called from several threads.
[[noreturn]] void runWindowProgram(const CommandLine& commandLine, WindowSystem& system);

}  // namespace tevoli::window

#pragma once
#include "stop_request.h"

namespace tevoli::systemaudio {

// A standard stream the process was started without is held by /dev/null, opened so
// that it cannot be used: otherwise the next descriptor opened (the sound server's
// socket) would take its number, and the header would go into that socket.
void reserveStandardStreams();

// Writing to a closed pipe then fails with an error the writer handles, instead of
// killing the process.
void ignoreBrokenPipe();

// Large blocks the program frees (the backlog of a reader that stalled) go back to the
// system. Left to itself, glibc raises its mmap threshold to the largest block freed and
// keeps every later block up to that size in its heap for the rest of the run.
void returnLargeBlocksToTheSystem();

// SIGINT and SIGTERM become a stop request (status 0) handed to the main thread.
void stopOnSignals(StopRequest& request);

}  // namespace tevoli::systemaudio

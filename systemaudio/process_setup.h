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

// SIGINT and SIGTERM become a stop request (status 0) handed to the main thread.
void stopOnSignals(StopRequest& request);

}  // namespace tevoli::systemaudio

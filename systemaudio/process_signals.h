#pragma once
#include "stop_request.h"

namespace tevoli::systemaudio {

// Writing to a closed pipe then fails with an error the writer handles, instead of
// killing the process.
void ignoreBrokenPipe();

// SIGINT and SIGTERM become a stop request (status 0) handed to the main thread.
void stopOnSignals(StopRequest& request);

}  // namespace tevoli::systemaudio

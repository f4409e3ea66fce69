#include "ending.h"

#include <unistd.h>

#include "write_all.h"

namespace tevoli {

int finish(const Ending& ending, std::string_view failPrefix) {
    // Nothing more can be done for a stream that is gone.
    writeAll(STDOUT_FILENO, ending.output);
    if (!ending.message.empty()) writeAll(STDERR_FILENO, std::string(failPrefix) + ending.message + "\n");
    return ending.status;
}

}  // namespace tevoli

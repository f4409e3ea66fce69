#include "fail.h"

#include <unistd.h>

#include <cstdlib>

namespace tevoli {

std::string failLine(std::string_view prefix, std::string_view message) {
    std::string line;
    line.reserve(prefix.size() + message.size() + 1);
    line.append(prefix).append(message).append("\n");
    return line;
}

void fail(std::string_view prefix, std::string_view message) {
    const std::string line = failLine(prefix, message);
    // One write; nothing more can be done if standard error is gone.
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    std::exit(1);
}

}  // namespace tevoli

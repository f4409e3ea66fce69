#pragma once
#include <string>
#include <string_view>

namespace tevoli {

// Writes `prefix` + `message` + "\n" to standard error in one write and exits with
// status 1 through exit(), so exit-time handlers run. The window program passes no prefix.
[[noreturn]] void fail(std::string_view prefix, std::string_view message);

// The line `fail` writes, for tests.
std::string failLine(std::string_view prefix, std::string_view message);

}  // namespace tevoli

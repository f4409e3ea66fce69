#pragma once
#include <string_view>

namespace tevoli {

// Writes `prefix` + `message` + "\n" to standard error in one write and exits with
// status 1 through exit(), so exit-time handlers run. The window program passes no
// prefix. For `main`, and the few places where the host's contract leaves no other
// answer than ending at once; a core returns an `Ending` instead.
[[noreturn]] void fail(std::string_view prefix, std::string_view message);

}  // namespace tevoli

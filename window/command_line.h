#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tevoli::window {

enum class Mode { list, capture, watch };

struct CommandLine {
    Mode mode = Mode::list;
    bool listAll = false;        // only consulted in list mode
    std::uint32_t windowId = 0;  // capture and watch
    std::string dest;            // capture
};

enum class ParseStatus { ok, watchUsage, captureUsage };

inline constexpr std::string_view kWatchUsage = "usage: tevoli-window --watch <windowid>";
inline constexpr std::string_view kCaptureUsage = "usage: tevoli-window --capture <windowid> <dest>";

// `args` starts with the program path. "--watch" wins over "--capture"; unknown
// arguments are ignored. A window id is a decimal unsigned 32-bit number: one
// leading "+" allowed, "-" only before zeros.
ParseStatus parseCommandLine(const std::vector<std::string>& args, CommandLine& out);

}  // namespace tevoli::window

#pragma once
#include <cstdint>
#include <optional>
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

// A decimal unsigned 32-bit window id: one leading "+" allowed, "-" only before zeros.
std::optional<std::uint32_t> parseWindowId(std::string_view text);

// `args` starts with the program path. "--watch" wins over "--capture"; unknown
// arguments are ignored.
ParseStatus parseCommandLine(const std::vector<std::string>& args, CommandLine& out);

}  // namespace tevoli::window

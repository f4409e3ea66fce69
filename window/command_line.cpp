#include "command_line.h"

#include <algorithm>
#include <optional>

namespace tevoli::window {
namespace {

std::optional<std::uint32_t> parseWindowId(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

ParseStatus parseCommandLine(const std::vector<std::string>& args, CommandLine& out) {
    out = CommandLine{};
    out.listAll = std::find(args.begin(), args.end(), "--all") != args.end();
    const auto find = [&](const char* flag) {
        return static_cast<std::size_t>(std::find(args.begin(), args.end(), flag) - args.begin());
    };
    if (const std::size_t i = find("--watch"); i < args.size()) {
        const auto id = i + 1 < args.size() ? parseWindowId(args[i + 1]) : std::nullopt;
        if (!id) return ParseStatus::watchUsage;
        out.mode = Mode::watch;
        out.windowId = *id;
        return ParseStatus::ok;
    }
    if (const std::size_t i = find("--capture"); i < args.size()) {
        const auto id = i + 2 < args.size() ? parseWindowId(args[i + 1]) : std::nullopt;
        if (!id) return ParseStatus::captureUsage;
        out.mode = Mode::capture;
        out.windowId = *id;
        out.dest = args[i + 2];
        return ParseStatus::ok;
    }
    return ParseStatus::ok;
}

}  // namespace tevoli::window

#include "frames_command.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "extract.h"
#include "ocr.h"

namespace tevoli::frames {
namespace {

constexpr const char* kUsage = "usage: tevoli-frames extract|ocr \u2026";
constexpr const char* kExtractUsage = "usage: tevoli-frames extract <video> <outdir> <interval_secs>";
constexpr const char* kOcrUsage = "usage: tevoli-frames ocr <image> [<image>\u2026]";

// The whole operand must be one strtod number (the program never changes the C
// locale), with no white space around it, and greater than zero.
std::optional<double> parseInterval(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    if (!(value > 0)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::string> parseArgs(const std::vector<std::string>& args, FramesArgs& parsed) {
    if (args.size() < 2) return kUsage;
    const std::string& mode = args[1];
    if (mode == "extract") {
        if (args.size() < 5) return kExtractUsage;
        const auto interval = parseInterval(args[4]);
        if (!interval) return kExtractUsage;
        parsed.mode = Mode::extract;
        parsed.video = args[2];
        parsed.outdir = args[3];
        parsed.interval = *interval;
        return std::nullopt;
    }
    if (mode == "ocr") {
        if (args.size() < 3) return kOcrUsage;
        parsed.mode = Mode::ocr;
        parsed.images.assign(args.begin() + 2, args.end());
        return std::nullopt;
    }
    return "unknown mode " + mode;
}

Ending runFrames(const std::vector<std::string>& args, MediaServices& services) {
    FramesArgs parsed;
    if (auto usage = parseArgs(args, parsed)) return Ending::failure(*usage);
    if (parsed.mode == Mode::ocr) return runOcr(parsed.images, services);
    return runExtract(parsed.video, parsed.outdir, parsed.interval, services);
}

}  // namespace tevoli::frames

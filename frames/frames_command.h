#pragma once
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "media_services.h"

namespace tevoli::frames {

inline constexpr const char* kFailPrefix = "tevoli-frames: ";

enum class Mode { extract, ocr };

struct FramesArgs {
    Mode mode = Mode::extract;
    std::string video;
    std::string outdir;
    double interval = 0;
    std::vector<std::string> images;
};

// Fills `parsed` from the whole argument list (index 0 is the program path);
// returns the failure message when the command line is not usable.
std::optional<std::string> parseArgs(const std::vector<std::string>& args, FramesArgs& parsed);

// Runs one command line; output goes to `out`. Returns the failure message, if any.
std::optional<std::string> runFrames(const std::vector<std::string>& args, MediaServices& services, std::ostream& out);

}  // namespace tevoli::frames

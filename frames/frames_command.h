#pragma once
#include <optional>
#include <string>
#include <vector>

#include "ending.h"
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

// Runs one command line: what to print, or the failure.
Ending runFrames(const std::vector<std::string>& args, MediaServices& services);

}  // namespace tevoli::frames

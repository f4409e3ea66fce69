#pragma once
#include <string>
#include <vector>

#include "ending.h"
#include "media_services.h"

namespace tevoli::frames {

// 0, interval, interval+interval, ... while below the duration, at most 720 times.
// Accumulated by addition, so 0.1 s steps give 0.7999... as the ninth time.
std::vector<double> samplingTimes(double interval, double duration);

// "frame-<ms>.jpg", the milliseconds truncated toward zero.
std::string frameFileName(double seconds);

// Writes the frames of `videoPath` into `outdir`; "OK <count>" to print, or the failure.
Ending runExtract(const std::string& videoPath, const std::string& outdir, double interval, MediaServices& services);

}  // namespace tevoli::frames

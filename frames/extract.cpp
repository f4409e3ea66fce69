#include "extract.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace tevoli::frames {
namespace {

// Bounds the work of one run whatever the video's length and the interval.
constexpr std::size_t kMaxSamples = 720;

}  // namespace

std::vector<double> samplingTimes(double interval, double duration) {
    std::vector<double> times;
    double t = 0;
    do {
        if (times.size() == kMaxSamples) break;
        times.push_back(t);
        t += interval;
    } while (t < duration);
    return times;
}

std::string frameFileName(double seconds) {
    // Printed from the double, so even absurd times never overflow an integer.
    char digits[400];
    std::snprintf(digits, sizeof digits, "%.0f", std::trunc(seconds * 1000.0));
    return std::string("frame-") + digits + ".jpg";
}

Ending runExtract(const std::string& videoPath, const std::string& outdir, double interval, MediaServices& services) {
    // Created before the video is opened; a failure shows later as frames not written.
    services.createDirectories(outdir);

    auto video = services.openVideo(videoPath);
    if (!video) return Ending::failure("no video track (or unsupported container)");
    const double duration = video->durationSeconds();
    if (!std::isfinite(duration) || !(duration > 0)) return Ending::failure("could not read duration");

    std::size_t written = 0;
    for (double t : samplingTimes(interval, duration)) {
        const auto frame = video->frameNear(t);
        if (frame && services.writeJpeg(*frame, (std::filesystem::path(outdir) / frameFileName(t)).string())) ++written;
    }
    return {0, "OK " + std::to_string(written) + "\n", {}};
}

}  // namespace tevoli::frames

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "extract.h"
#include "frames_command.h"

namespace tevoli::frames {
namespace {

// A video of the given duration whose frames never decode, and a recognizer that never starts.
class FakeServices final : public MediaServices {
public:
    double duration = 10;

    std::unique_ptr<Video> openVideo(const std::string& path) override {
        return path == "missing" ? nullptr : std::make_unique<FakeVideo>(duration);
    }
    std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) override {
        error = "no model";
        return nullptr;
    }
    void createDirectories(const std::string&) override {}
    bool writeJpeg(const PixelView&, const std::string&) override { return false; }

private:
    struct FakeVideo final : Video {
        explicit FakeVideo(double duration) : duration(duration) {}
        double durationSeconds() override { return duration; }
        std::optional<PixelView> frameNear(double) override { return std::nullopt; }
        double duration;
    };
};

TEST(RunFrames, FailuresPrintNothing) {
    const std::string extractUsage = "usage: tevoli-frames extract <video> <outdir> <interval_secs>";
    std::vector<std::tuple<std::vector<std::string>, double, std::string>> cases{
        {{"tevoli-frames", "extract", "missing", "out", "1"}, 10, "no video track (or unsupported container)"},
        {{"tevoli-frames", "ocr", "a.png"}, 10, "text recognition unavailable: no model"},
        {{"tevoli-frames", "ocr"}, 10, "usage: tevoli-frames ocr <image> [<image>\u2026]"},
        {{"tevoli-frames"}, 10, "usage: tevoli-frames extract|ocr \u2026"},
        {{"tevoli-frames", "extract", "in.mp4", "out"}, 10, extractUsage},
        {{"tevoli-frames", "EXTRACT", "in.mp4", "out", "1"}, 10, "unknown mode EXTRACT"},
    };
    // The interval is one positive number with nothing around it.
    for (const char* bad : {" 1", "1 ", "\t2", "", "0", "-0", "-1", "nan", "1x", "1,5"})
        cases.push_back({{"tevoli-frames", "extract", "in.mp4", "out", bad}, 10, extractUsage});
    for (double duration : {0.0, -1.0, std::nan(""), HUGE_VAL})
        cases.push_back({{"tevoli-frames", "extract", "v", "out", "1"}, duration, "could not read duration"});
    for (const auto& [args, duration, message] : cases) {
        FakeServices services;
        services.duration = duration;
        const Ending ending = runFrames(args, services);
        EXPECT_EQ(std::tie(ending.status, ending.output, ending.message), std::tuple(1, "", message))
            << args.back() << message;
    }
}

}  // namespace
}  // namespace tevoli::frames

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

#include "extract.h"
#include "frames_command.h"

namespace tevoli::frames {
namespace {

// A video of flat frames and a file system in memory, recording what was asked of them.
class FakeServices final : public MediaServices {
public:
    double duration = 10;
    std::set<double> undecodable;
    std::set<std::string> unwritable;
    std::vector<std::string> calls;

    std::unique_ptr<Video> openVideo(const std::string& path) override {
        calls.push_back("open " + path);
        if (path == "missing") return nullptr;
        return std::make_unique<FakeVideo>(*this);
    }
    std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) override {
        error = "no model";
        return nullptr;
    }
    void createDirectories(const std::string& path) override { calls.push_back("mkdir " + path); }
    bool writeJpeg(const PixelView& image, const std::string& path) override {
        calls.push_back("write " + path + " " + std::to_string(image.width) + "x" + std::to_string(image.height));
        return !unwritable.contains(path);
    }

private:
    struct FakeVideo final : Video {
        explicit FakeVideo(FakeServices& owner) : owner(owner) {}
        double durationSeconds() override { return owner.duration; }
        std::optional<PixelView> frameNear(double seconds) override {
            if (owner.undecodable.contains(seconds)) return std::nullopt;
            return PixelView{pixels.data(), 4, 2, 12, PixelLayout::rgb};
        }
        FakeServices& owner;
        std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(24, 128);
    };
};

std::tuple<int, std::string, std::string> outcome(const Ending& ending) {
    return {ending.status, ending.output, ending.message};
}

TEST(ParseArgs, IntervalIsAnyStrtodNumber) {
    FramesArgs parsed;
    for (auto [text, value] : {std::pair{"0x1p-1", 0.5}, {"1e-1", 0.1}, {"+3", 3.0}}) {
        EXPECT_EQ(parseArgs({"tevoli-frames", "extract", "v", "o", text}, parsed), std::nullopt) << text;
        EXPECT_EQ(parsed.interval, value) << text;
    }
}

TEST(SamplingTimes, NamesAreTheTruncatedSumsAndTheCountIsBounded) {
    const auto tenths = samplingTimes(0.1, 1);
    // Added up, 0.1 falls short: eight additions stay below 0.8, ten below 1.
    ASSERT_EQ(tenths.size(), 11u);
    EXPECT_EQ(frameFileName(tenths[8]), "frame-799.jpg");
    EXPECT_EQ(samplingTimes(30, 10), std::vector<double>{0});
    EXPECT_EQ(samplingTimes(1e-300, 1).size(), 720u);
    EXPECT_EQ(frameFileName(1e300).substr(0, 7), "frame-1");
}

TEST(RunExtract, WritesEachFrameItGetsAndCountsOnlyTheFilesWritten) {
    const struct {
        double duration;
        std::set<double> undecodable;
        std::set<std::string> unwritable;
        std::vector<std::string> writes;
        std::string output;
    } cases[] = {
        {2.5, {}, {}, {"out/frame-0.jpg", "out/frame-1000.jpg", "out/frame-2000.jpg"}, "OK 3\n"},
        {4, {1}, {"out/frame-2000.jpg"},
         {"out/frame-0.jpg", "out/frame-2000.jpg", "out/frame-3000.jpg"}, "OK 2\n"},
        {3, {0, 1, 2}, {}, {}, "OK 0\n"},
    };
    for (const auto& c : cases) {
        FakeServices services;
        services.duration = c.duration;
        services.undecodable = c.undecodable;
        services.unwritable = c.unwritable;
        EXPECT_EQ(outcome(runFrames({"tevoli-frames", "extract", "in.mp4", "out", "1", "extra"}, services)),
                  std::tuple(0, c.output, ""));
        std::vector<std::string> expected{"mkdir out", "open in.mp4"};
        for (const auto& path : c.writes) expected.push_back("write " + path + " 4x2");
        EXPECT_EQ(services.calls, expected) << c.output;
    }
}

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
        EXPECT_EQ(outcome(runFrames(args, services)), std::tuple(1, "", message)) << args.back() << message;
    }
}

}  // namespace
}  // namespace tevoli::frames

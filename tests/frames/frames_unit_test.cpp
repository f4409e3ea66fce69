#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "extract.h"
#include "frames_command.h"

namespace tevoli::frames {
namespace {

// A video of flat frames and a file system in memory, recording what was asked
// of them; a recognizer that never starts.
class FakeServices final : public MediaServices {
public:
    double duration = 10;
    std::function<bool(double)> undecodable = [](double) { return false; };
    std::function<bool(const std::string&)> unwritable = [](const std::string&) { return false; };
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
        return !unwritable(path);
    }

private:
    struct FakeVideo final : Video {
        explicit FakeVideo(FakeServices& owner) : owner(owner) {}
        double durationSeconds() override { return owner.duration; }
        std::optional<PixelView> frameNear(double seconds) override {
            if (owner.undecodable(seconds)) return std::nullopt;
            return PixelView{pixels.data(), 4, 2, 12, PixelLayout::rgb};
        }
        FakeServices& owner;
        std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(24, 128);
    };
};

std::tuple<int, std::string, std::string> outcome(const Ending& ending) {
    return {ending.status, ending.output, ending.message};
}

TEST(ParseArgs, IntervalIsOnePositiveStrtodNumberWithNothingAround) {
    FramesArgs parsed;
    for (const char* bad : {" 1", "1 ", "\t2", "", "0", "-0", "-1", "nan", "1x", "1,5"}) {
        EXPECT_EQ(parseArgs({"tevoli-frames", "extract", "v", "o", bad}, parsed),
                  "usage: tevoli-frames extract <video> <outdir> <interval_secs>")
            << '"' << bad << '"';
    }
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
    struct Case {
        double duration;
        std::function<bool(double)> undecodable;
        std::function<bool(const std::string&)> unwritable;
        std::vector<std::string> writes;
        std::string output;
    };
    const auto never = [](auto) { return false; };
    const std::vector<Case> cases{
        {2.5, never, never, {"out/frame-0.jpg", "out/frame-1000.jpg", "out/frame-2000.jpg"}, "OK 3\n"},
        {4, [](double t) { return t == 1; }, [](const std::string& p) { return p == "out/frame-2000.jpg"; },
         {"out/frame-0.jpg", "out/frame-2000.jpg", "out/frame-3000.jpg"}, "OK 2\n"},
        {3, [](double) { return true; }, never, {}, "OK 0\n"},
    };
    for (const Case& c : cases) {
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
    struct Case {
        std::vector<std::string> args;
        double duration;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"tevoli-frames", "extract", "missing", "out", "1"}, 10, "no video track (or unsupported container)"},
        {{"tevoli-frames", "extract", "in.mp4", "out", "1"}, 0, "could not read duration"},
        {{"tevoli-frames", "extract", "in.mp4", "out", "1"}, -1, "could not read duration"},
        {{"tevoli-frames", "extract", "in.mp4", "out", "1"}, std::nan(""), "could not read duration"},
        {{"tevoli-frames", "extract", "in.mp4", "out", "1"}, INFINITY, "could not read duration"},
        {{"tevoli-frames", "ocr", "a.png"}, 10, "text recognition unavailable: no model"},
        {{"tevoli-frames", "ocr"}, 10, "usage: tevoli-frames ocr <image> [<image>\u2026]"},
        {{"tevoli-frames"}, 10, "usage: tevoli-frames extract|ocr \u2026"},
        {{"tevoli-frames", "extract", "in.mp4", "out"}, 10,
         "usage: tevoli-frames extract <video> <outdir> <interval_secs>"},
        {{"tevoli-frames", "EXTRACT", "in.mp4", "out", "1"}, 10, "unknown mode EXTRACT"},
    };
    for (const Case& c : cases) {
        FakeServices services;
        services.duration = c.duration;
        EXPECT_EQ(outcome(runFrames(c.args, services)), std::tuple(1, "", c.message)) << c.message;
    }
}

}  // namespace
}  // namespace tevoli::frames

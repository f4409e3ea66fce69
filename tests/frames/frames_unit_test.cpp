#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <unistd.h>

#include "extract.h"
#include "frames_command.h"

namespace tevoli::frames {
namespace {

namespace fs = std::filesystem;

const std::string kExtractUsage = "usage: tevoli-frames extract <video> <outdir> <interval_secs>";

// A video of flat frames that records the times asked for, and a recognizer that never starts.
class FakeServices final : public MediaServices {
public:
    bool hasVideo = true;
    double duration = 10;
    std::function<bool(double)> undecodable = [](double) { return false; };
    std::function<void()> onOpenVideo = [] {};
    std::vector<double> askedTimes;

    std::unique_ptr<Video> openVideo(const std::string&, const FrameSettings&) override {
        onOpenVideo();
        return hasVideo ? std::make_unique<FakeVideo>(*this) : nullptr;
    }
    std::unique_ptr<TextRecognizer> openTextRecognizer(std::string& error) override {
        error = "no model";
        return nullptr;
    }

private:
    struct FakeVideo final : Video {
        explicit FakeVideo(FakeServices& owner) : owner(owner) {}
        double durationSeconds() override { return owner.duration; }
        std::optional<PixelView> frameNear(double seconds) override {
            owner.askedTimes.push_back(seconds);
            if (owner.undecodable(seconds)) return std::nullopt;
            return PixelView{pixels.data(), 4, 2, 12, PixelLayout::rgb};
        }
        FakeServices& owner;
        std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(24, 128);
    };
};

std::optional<std::string> parse(std::vector<std::string> args, FramesArgs& parsed) {
    args.insert(args.begin(), "tevoli-frames");
    return parseArgs(args, parsed);
}

TEST(ParseArgs, IntervalIsOnePositiveStrtodNumberWithNothingAround) {
    FramesArgs parsed;
    for (const char* bad : {" 1", "1 ", "", "0", "-1", "-0", "nan", "1x", "1,5", "\t2"})
        EXPECT_EQ(parse({"extract", "v", "o", bad}, parsed), kExtractUsage) << '"' << bad << '"';
    for (auto [text, value] : {std::pair{"0x1p-1", 0.5}, {"1e-1", 0.1}, {"+3", 3.0}}) {
        EXPECT_EQ(parse({"extract", "v", "o", text, "ignored"}, parsed), std::nullopt) << text;
        EXPECT_EQ(parsed.interval, value) << text;
    }
}

TEST(SamplingTimes, AccumulatedFromZeroBelowTheDurationAtMost720) {
    EXPECT_EQ(samplingTimes(30, 10), std::vector<double>{0});
    EXPECT_EQ(samplingTimes(1, 3), (std::vector<double>{0, 1, 2}));
    // Eight additions of 0.1 fall just below 0.8.
    EXPECT_EQ(frameFileName(samplingTimes(0.1, 1).at(8)), "frame-799.jpg");
    EXPECT_EQ(samplingTimes(1, 7200).back(), 719);
    EXPECT_EQ(samplingTimes(1e-300, 1).size(), 720u);
    EXPECT_EQ(frameFileName(1.9999), "frame-1999.jpg");
    EXPECT_EQ(frameFileName(1e300).substr(0, 7), "frame-1");
}

class RunExtract : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tevoli-frames-unit-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        outdir = (dir / "nested" / "out").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::optional<std::string> run(double interval) {
        return runExtract("video.mp4", outdir, interval, services, out);
    }

    fs::path dir;
    std::string outdir;
    FakeServices services;
    std::ostringstream out;
};

TEST_F(RunExtract, SkippedFramesLeaveGapsAndAreNotCounted) {
    services.duration = 4;
    services.undecodable = [](double t) { return t == 1; };
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 3\n");
    EXPECT_EQ(services.askedTimes, (std::vector<double>{0, 1, 2, 3}));
    EXPECT_TRUE(fs::exists(fs::path(outdir) / "frame-2000.jpg"));
    EXPECT_FALSE(fs::exists(fs::path(outdir) / "frame-1000.jpg"));
}

TEST_F(RunExtract, NothingWrittenIsStillSuccess) {
    services.undecodable = [](double) { return true; };
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 0\n");
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "x";
    outdir = (dir / "file").string();
    services.undecodable = [](double) { return false; };
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 0\nOK 0\n");
}

TEST_F(RunExtract, DirectoryIsMadeBeforeTheVideoIsOpened) {
    bool existed = false;
    services.onOpenVideo = [&] { existed = fs::is_directory(outdir); };
    services.hasVideo = false;
    EXPECT_EQ(run(1), "no video track (or unsupported container)");
    EXPECT_TRUE(existed);
}

TEST_F(RunExtract, DurationMustBeFiniteAndPositive) {
    for (double duration : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
        services.duration = duration;
        EXPECT_EQ(run(1), "could not read duration") << duration;
    }
    EXPECT_EQ(out.str(), "");
}

TEST(RunFrames, EngineThatCannotStartFailsInsteadOfPrintingEmptyTexts) {
    FakeServices services;
    std::ostringstream out;
    EXPECT_EQ(runFrames({"tevoli-frames", "ocr", "a.png"}, services, out),
              "text recognition unavailable: no model");
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tevoli::frames

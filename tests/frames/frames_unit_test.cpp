#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "extract.h"
#include "frames_command.h"

namespace tevoli::frames {
namespace {

namespace fs = std::filesystem;

// A video of flat frames that records the times asked for, and a recognizer that never starts.
class FakeServices final : public MediaServices {
public:
    double duration = 10;
    std::function<bool(double)> undecodable = [](double) { return false; };
    std::vector<double> askedTimes;

    std::unique_ptr<Video> openVideo(const std::string&, const FrameSettings&) override {
        return std::make_unique<FakeVideo>(*this);
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

// The end-to-end tests hold the usual bad intervals; these are the strtod corners.
TEST(ParseArgs, IntervalIsOnePositiveStrtodNumberWithNothingAround) {
    FramesArgs parsed;
    for (const char* bad : {"1 ", "\t2", "-0", "1x", "1,5"}) {
        EXPECT_EQ(parseArgs({"tevoli-frames", "extract", "v", "o", bad}, parsed),
                  "usage: tevoli-frames extract <video> <outdir> <interval_secs>")
            << '"' << bad << '"';
    }
    for (auto [text, value] : {std::pair{"0x1p-1", 0.5}, {"1e-1", 0.1}, {"+3", 3.0}}) {
        EXPECT_EQ(parseArgs({"tevoli-frames", "extract", "v", "o", text}, parsed), std::nullopt) << text;
        EXPECT_EQ(parsed.interval, value) << text;
    }
}

TEST(SamplingTimes, AbsurdIntervalsStayBounded) {
    EXPECT_EQ(samplingTimes(1e-300, 1).size(), 720u);
    EXPECT_EQ(frameFileName(1e300).substr(0, 7), "frame-1");
}

class RunExtract : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tevoli-frames-unit-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        outdir = (dir / "out").string();
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

TEST_F(RunExtract, CountsOnlyTheFilesWritten) {
    services.duration = 4;
    services.undecodable = [](double t) { return t == 1; };
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(services.askedTimes, (std::vector<double>{0, 1, 2, 3}));
    EXPECT_TRUE(fs::exists(fs::path(outdir) / "frame-2000.jpg"));
    EXPECT_FALSE(fs::exists(fs::path(outdir) / "frame-1000.jpg"));
    // An output "directory" that is a file: every write fails, which is still success.
    outdir = (fs::path(outdir) / "frame-2000.jpg").string();
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 3\nOK 0\n");
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

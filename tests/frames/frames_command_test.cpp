#include "frames_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fake_media_services.h"

namespace tevoli::frames {
namespace {

const std::string kExtractUsage = "usage: tevoli-frames extract <video> <outdir> <interval_secs>";

std::optional<std::string> parse(std::vector<std::string> args, FramesArgs& parsed) {
    args.insert(args.begin(), "tevoli-frames");
    return parseArgs(args, parsed);
}

std::optional<std::string> parse(std::vector<std::string> args) {
    FramesArgs parsed;
    return parse(std::move(args), parsed);
}

TEST(ParseArgs, ModeWordIsRequiredAndExact) {
    EXPECT_EQ(parse({}), "usage: tevoli-frames extract|ocr \u2026");
    EXPECT_EQ(parse({"Extract", "v", "o", "1"}), "unknown mode Extract");
    EXPECT_EQ(parse({""}), "unknown mode ");
}

TEST(ParseArgs, ExtractTakesThreeOperandsAndIgnoresMore) {
    EXPECT_EQ(parse({"extract", "v.mp4", "out"}), kExtractUsage);
    FramesArgs parsed;
    EXPECT_EQ(parse({"extract", "v.mp4", "out", "2.5", "extra"}, parsed), std::nullopt);
    EXPECT_EQ(parsed.mode, Mode::extract);
    EXPECT_EQ(parsed.video, "v.mp4");
    EXPECT_EQ(parsed.outdir, "out");
    EXPECT_EQ(parsed.interval, 2.5);
}

TEST(ParseArgs, IntervalMustBeOnePositiveNumberWithNothingAround) {
    for (const char* bad : {" 1", "1 ", "", "0", "-1", "-0", "nan", "NAN", "1x", "x", "1,5", "\t2"})
        EXPECT_EQ(parse({"extract", "v", "o", bad}), kExtractUsage) << '"' << bad << '"';
    for (auto [text, value] : {std::pair{"0x1p-1", 0.5}, {"1e-1", 0.1}, {"+3", 3.0}, {".5", 0.5}}) {
        FramesArgs parsed;
        EXPECT_EQ(parse({"extract", "v", "o", text}, parsed), std::nullopt) << text;
        EXPECT_EQ(parsed.interval, value) << text;
    }
}

TEST(ParseArgs, OcrTakesOneOrMorePathsInOrder) {
    EXPECT_EQ(parse({"ocr"}), "usage: tevoli-frames ocr <image> [<image>\u2026]");
    FramesArgs parsed;
    EXPECT_EQ(parse({"ocr", "a.png", "b.png", "a.png"}, parsed), std::nullopt);
    EXPECT_EQ(parsed.mode, Mode::ocr);
    EXPECT_EQ(parsed.images, (std::vector<std::string>{"a.png", "b.png", "a.png"}));
}

TEST(RunFrames, UsageFailureTouchesNoService) {
    FakeMediaServices services;
    std::ostringstream out;
    EXPECT_EQ(runFrames({"tevoli-frames", "extract", "v", "o", "0"}, services, out), kExtractUsage);
    EXPECT_EQ(runFrames({"tevoli-frames", "ocr"}, services, out),
              "usage: tevoli-frames ocr <image> [<image>\u2026]");
    EXPECT_TRUE(services.openedVideos.empty());
    EXPECT_EQ(services.recognizersOpened, 0);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tevoli::frames

#include "extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_media_services.h"

namespace tevoli::frames {
namespace {

namespace fs = std::filesystem;

TEST(SamplingTimes, StartAtZeroAndStayBelowTheDuration) {
    EXPECT_EQ(samplingTimes(30, 10), std::vector<double>{0});
    EXPECT_EQ(samplingTimes(1, 3), (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(samplingTimes(2.5, 5.01), (std::vector<double>{0, 2.5, 5}));
}

TEST(SamplingTimes, AccumulateByAdditionSoTheNinthTenthStepIs799Milliseconds) {
    const auto times = samplingTimes(0.1, 1);
    ASSERT_GE(times.size(), 9u);
    EXPECT_EQ(frameFileName(times[8]), "frame-799.jpg");
    EXPECT_EQ(frameFileName(times[1]), "frame-100.jpg");
}

TEST(SamplingTimes, StopAt720WhateverTheLength) {
    const auto times = samplingTimes(1, 7200);
    ASSERT_EQ(times.size(), 720u);
    EXPECT_EQ(times.back(), 719);
    EXPECT_EQ(samplingTimes(1e-300, 1).size(), 720u);
}

TEST(FrameFileName, TruncatesMillisecondsTowardZero) {
    EXPECT_EQ(frameFileName(0), "frame-0.jpg");
    EXPECT_EQ(frameFileName(1.9999), "frame-1999.jpg");
    EXPECT_EQ(frameFileName(3600), "frame-3600000.jpg");
    EXPECT_EQ(frameFileName(1e300).substr(0, 7), "frame-1");
}

class RunExtract : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tevoli-frames-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        outdir = (dir / "nested" / "out").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::optional<std::string> run(double interval) {
        return runExtract("video.mp4", outdir, interval, services, out);
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(outdir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
    std::string outdir;
    FakeMediaServices services;
    std::ostringstream out;
};

TEST_F(RunExtract, WritesOneJpegPerSamplingTimeAndPrintsTheCount) {
    services.duration = 3;
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 3\n");
    EXPECT_EQ(services.askedTimes, (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(files(), (std::vector<std::string>{"frame-0.jpg", "frame-1000.jpg", "frame-2000.jpg"}));
    EXPECT_GT(fs::file_size(fs::path(outdir) / "frame-0.jpg"), 100u);
}

TEST_F(RunExtract, SkippedFramesLeaveGapsAndAreNotCounted) {
    services.duration = 4;
    services.undecodable = [](double t) { return t == 1 || t == 3; };
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 2\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"frame-0.jpg", "frame-2000.jpg"}));
}

TEST_F(RunExtract, NoDecodableFrameStillSucceedsWithZero) {
    services.undecodable = [](double) { return true; };
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 0\n");
}

TEST_F(RunExtract, DirectoryExistsBeforeTheVideoIsOpenedAndStaysOnFailure) {
    bool existed = false;
    services.onOpenVideo = [&] { existed = fs::is_directory(outdir); };
    services.hasVideo = false;
    EXPECT_EQ(run(1), "no video track (or unsupported container)");
    EXPECT_TRUE(existed);
    EXPECT_TRUE(fs::is_directory(outdir));
    EXPECT_EQ(out.str(), "");
}

TEST_F(RunExtract, DurationMustBeFiniteAndPositive) {
    for (double duration : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
        services.duration = duration;
        EXPECT_EQ(run(1), "could not read duration") << duration;
    }
    EXPECT_TRUE(services.askedTimes.empty());
    EXPECT_EQ(out.str(), "");
}

TEST_F(RunExtract, UnwritableDirectoryCountsNothing) {
    fs::create_directories(dir);
    { std::ofstream(dir / "file") << "x"; }
    outdir = (dir / "file").string();
    services.duration = 2;
    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(out.str(), "OK 0\n");
}

}  // namespace
}  // namespace tevoli::frames

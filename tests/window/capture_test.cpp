#include "capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "fake_window_system.h"
#include "jpeg_test_util.h"

namespace tevoli::window {
namespace {

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tevoli-capture-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ShareableWindow window;
        window.id = 7;
        window.width = 640.6;
        window.height = 480.9;
        system.content.value = std::vector<ShareableWindow>{window};
    }
    void TearDown() override {
        std::remove((dir + "/out.jpg").c_str());
        rmdir(dir.c_str());
    }
    testing::FakeWindowSystem system;
    std::string dir;
};

TEST_F(Capture, WritesTwiceTheWholePointSize) {
    system.image.value = testing::solid(640, 480, 0, 0, 255);
    EXPECT_EQ(captureToFile(system, 7, dir + "/out.jpg"), std::nullopt);
    const auto jpeg = testing::decodeJpegFile(dir + "/out.jpg");
    ASSERT_EQ(jpeg.width, 1280);
    ASSERT_EQ(jpeg.height, 960);
    EXPECT_GT(jpeg.at(600, 500)[0], 240);
    EXPECT_LT(jpeg.at(600, 500)[2], 15);
}

TEST_F(Capture, FailureMessages) {
    system.image.error = "BadMatch";
    EXPECT_EQ(captureToFile(system, 42, dir + "/out.jpg"), "window 42 not found");
    EXPECT_TRUE(system.captured.empty());
    EXPECT_EQ(captureToFile(system, 7, dir + "/out.jpg"), "capture: BadMatch");
    system.image.error.clear();
    EXPECT_EQ(captureToFile(system, 7, dir + "/out.jpg"), "capture: unknown");
    system.image.value = testing::solid(640, 480, 0, 0, 255);
    EXPECT_EQ(captureToFile(system, 7, dir + "/missing/out.jpg"), "write: No such file or directory");
    EXPECT_NE(access((dir + "/out.jpg").c_str(), F_OK), 0);
    system.content = {std::nullopt, ""};
    EXPECT_EQ(captureToFile(system, 7, dir + "/out.jpg"), "shareable content: unknown");
    system.content = {std::nullopt, "connection to the X server failed"};
    EXPECT_EQ(captureToFile(system, 7, dir + "/out.jpg"), "shareable content: connection to the X server failed");
}

}  // namespace
}  // namespace tevoli::window

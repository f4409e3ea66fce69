#include "capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fake_window_system.h"
#include "jpeg_test_util.h"

namespace tevoli::window {
namespace {

TEST(Capture, TwiceTheWholePointSizeAndTheDisplaysFailures) {
    const std::string dest =
        std::filesystem::temp_directory_path() / ("tevoli-capture-" + std::to_string(getpid()) + ".jpg");
    testing::FakeWindowSystem system;
    ShareableWindow window;
    window.id = 7;
    window.width = 640.6;
    window.height = 480.9;
    system.content.value = std::vector<ShareableWindow>{window};
    system.image.value = testing::solid(640, 480, 0, 0, 255);
    ASSERT_EQ(captureToFile(system, 7, dest), std::nullopt);
    const auto jpeg = testing::decodeJpegFile(dest);
    std::filesystem::remove(dest);
    EXPECT_EQ(jpeg.width, 1280);
    EXPECT_EQ(jpeg.height, 960);

    system.image = {std::nullopt, "BadMatch"};
    EXPECT_EQ(captureToFile(system, 7, dest), "capture: BadMatch");
    system.image.error.clear();
    EXPECT_EQ(captureToFile(system, 7, dest), "capture: unknown");
    system.content = {std::nullopt, ""};
    EXPECT_EQ(captureToFile(system, 7, dest), "shareable content: unknown");
    EXPECT_FALSE(std::filesystem::exists(dest));
}

}  // namespace
}  // namespace tevoli::window

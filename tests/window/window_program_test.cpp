#include "window_program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tevoli::window {
namespace {

// A display that answers with what the test set.
class FakeWindowSystem final : public WindowSystem {
public:
    Outcome<std::vector<ShareableWindow>> content;
    bool contentHangs = false;
    std::optional<std::vector<ServerWindow>> serverList;
    Outcome<Image> image;
    std::string streamError;

    Outcome<std::vector<ShareableWindow>> shareableContent() override {
        while (contentHangs) std::this_thread::sleep_for(std::chrono::hours(1));
        return content;
    }
    std::optional<std::vector<ServerWindow>> windowServerList() override { return serverList; }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    Outcome<Image> captureImage(const ShareableWindow&) override { return image; }
    Outcome<std::unique_ptr<WindowStream>> startStream(const ShareableWindow&) override {
        return {std::nullopt, streamError};
    }
    Written writeJpeg(const Image&, int, int, const std::string&) override { return {Status::writeFailed, "EROFS"}; }
};

// Runs the program in a forked child (EXPECT_EXIT) with standard output in a file.
class WindowProgram : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(output); }
    void run(const CommandLine& commandLine) {
        if (!std::freopen(output.c_str(), "w", stdout)) std::_Exit(3);
        runWindowProgram(commandLine, system);
    }
    std::string written() const {
        std::stringstream text;
        text << std::ifstream(output).rdbuf();
        return text.str();
    }
    FakeWindowSystem system;
    const std::string output =
        std::filesystem::temp_directory_path() / ("tevoli-program-" + std::to_string(getpid()));
};

TEST_F(WindowProgram, ListFallsBackToTheServerListWhenContentHangs) {
    system.contentHangs = true;
    system.serverList = std::vector<ServerWindow>{{7, 42, 0, 640, 480, "Gedit", "notes"}};
    EXPECT_EXIT(run(CommandLine{Mode::list, true, 0, ""}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EQ(written(),
              "{\"windows\":[{\"id\":42,\"app\":\"Gedit\",\"title\":\"notes\",\"width\":640,\"height\":480,"
              "\"meeting\":false}]}\n");
}

TEST_F(WindowProgram, DisplayFailuresEndWithStatus1AndNothingOnStdout) {
    ShareableWindow window;
    window.id = 7;
    const Outcome<std::vector<ShareableWindow>> found{std::vector<ShareableWindow>{window}, ""};
    struct Case {
        Outcome<std::vector<ShareableWindow>> content;
        Outcome<Image> image;
        Mode mode;
        std::string message;
    };
    const std::vector<Case> cases{
        {found, {std::nullopt, "BadMatch"}, Mode::capture, "capture: BadMatch"},
        {{std::nullopt, ""}, {}, Mode::capture, "shareable content: unknown"},
        {found, {Image::of(1, 1, {0, 0, 0, 0}), ""}, Mode::capture, "write: EROFS"},
        {found, {}, Mode::watch, "start: BadAccess"},
    };
    system.streamError = "BadAccess";
    for (const Case& c : cases) {
        system.content = c.content;
        system.image = c.image;
        EXPECT_EXIT(run(CommandLine{c.mode, false, 7, "/nonexistent/out.jpg"}), ::testing::ExitedWithCode(1),
                    "^" + c.message + "\n$");
        EXPECT_EQ(written(), "") << c.message;
    }
}

}  // namespace
}  // namespace tevoli::window

#include "window_program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "fake_window_system.h"

namespace tevoli::window {
namespace {

// Runs the program in a forked child with standard output in a file.
class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tevoli-program-XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        output = pattern;
    }
    void TearDown() override { std::remove(output.c_str()); }
    void run(const CommandLine& commandLine) {
        if (!std::freopen(output.c_str(), "w", stdout)) std::_Exit(3);
        runWindowProgram(commandLine, system);
    }
    std::string written() const {
        std::ifstream file(output);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    testing::FakeWindowSystem system;
    std::string output;
};

TEST_F(WindowProgram, ListFallsBackToTheServerListWhenContentHangs) {
    system.contentHangs = true;
    system.serverList = std::vector<ServerWindow>{{7, 42, 0, 640, 480, "Gedit", "notes"}};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EXIT(run(CommandLine{Mode::list, true, 0, ""}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(written(),
              "{\"windows\":[{\"id\":42,\"app\":\"Gedit\",\"title\":\"notes\",\"width\":640,\"height\":480,"
              "\"meeting\":false}]}\n");
}

TEST_F(WindowProgram, WatchFailuresBeforeReady) {
    ShareableWindow window;
    window.id = 7;
    window.width = window.height = 400;
    system.content.value = std::vector<ShareableWindow>{window};
    system.streamError = "BadAccess";
    EXPECT_EXIT(run(CommandLine{Mode::watch, false, 7, ""}), ::testing::ExitedWithCode(1), "^start: BadAccess\n$");
    EXPECT_EXIT(run(CommandLine{Mode::watch, false, 8, ""}), ::testing::ExitedWithCode(1), "^window 8 not found\n$");
    EXPECT_EQ(written(), "");
}

}  // namespace
}  // namespace tevoli::window

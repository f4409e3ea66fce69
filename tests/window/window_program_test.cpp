#include "window_program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_window_system.h"

namespace tevoli::window {
namespace {

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
    testing::FakeWindowSystem system;
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

TEST_F(WindowProgram, WatchThatCannotStartFailsBeforeReady) {
    ShareableWindow window;
    window.id = 7;
    system.content.value = std::vector<ShareableWindow>{window};
    system.streamError = "BadAccess";
    EXPECT_EXIT(run(CommandLine{Mode::watch, false, 7, ""}), ::testing::ExitedWithCode(1), "^start: BadAccess\n$");
    EXPECT_EQ(written(), "");
}

}  // namespace
}  // namespace tevoli::window

#include "watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "fake_window_system.h"

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class Watch : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "tevoli-watch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
    }
    void TearDown() override { fs::remove_all(dir); }
    // Serves `input` as standard input would deliver it; returns the replies.
    std::vector<std::string> serve(FrameStore& store, const std::string& input) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        close(fds[1]);
        std::vector<std::string> replies;
        serveCommands(fds[0], store, [&](std::string_view line) { replies.emplace_back(line); });
        close(fds[0]);
        return replies;
    }
    std::string dir;
};

TEST_F(Watch, SnapshotWaitsForAFrameThenGivesUp) {
    FrameStore store(8, 6, 150ms);
    EXPECT_EQ(store.snapshot(dir + "a.jpg"), "no frame");
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        store.offer(testing::solid(4, 3, 255, 0, 0));
    });
    EXPECT_EQ(store.snapshot(dir + "a.jpg"), std::nullopt);
    late.join();
    EXPECT_TRUE(fs::exists(dir + "a.jpg"));
    store.offer(Image{});
    EXPECT_EQ(store.snapshot(dir + "b.jpg"), "cgimage failed");
}

// A window that is away for a while (no frame) keeps the stream going; once it is
// gone, shots answer "stopped" even though a frame is held.
TEST_F(Watch, CaptureFeedsTheStoreUntilTheStreamStops) {
    FrameStore store(8, 6, 100ms);
    testing::FakeStream stream;
    stream.grabs.push_back({WindowStream::Status::frame, testing::solid(4, 3, 0, 255, 0)});
    stream.grabs.push_back({WindowStream::Status::noFrame, {}});
    runCapture(stream, store, 1ms);
    EXPECT_EQ(stream.calls, 3);
    EXPECT_EQ(store.snapshot(dir + "a.jpg"), "stopped");
}

TEST_F(Watch, QuitAndEndOfInputEndTheLoop) {
    FrameStore store(8, 6, 100ms);
    store.offer(testing::solid(4, 3, 0, 0, 255));
    EXPECT_EQ(serve(store, "shoot " + dir + "a.jpg\nquit\nshoot " + dir + "b.jpg\n"),
              (std::vector<std::string>{"ok"}));
    EXPECT_FALSE(fs::exists(dir + "b.jpg"));
    // An unfinished last line is still a command.
    EXPECT_EQ(serve(store, "shoot " + dir + "c d.jpg"), (std::vector<std::string>{"ok"}));
    EXPECT_TRUE(fs::exists(dir + "c d.jpg"));
}

}  // namespace
}  // namespace tevoli::window

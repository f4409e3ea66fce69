#include "watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "fake_window_system.h"
#include "jpeg_test_util.h"

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;

class Watch : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tevoli-watch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const char* name : {"/a.jpg", "/b c.jpg", "/d.jpg"}) std::remove((dir + name).c_str());
        rmdir(dir.c_str());
    }
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
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(store.snapshot(dir + "/a.jpg"), "no frame");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        store.offer(testing::solid(4, 3, 255, 0, 0));
    });
    EXPECT_EQ(store.snapshot(dir + "/a.jpg"), std::nullopt);
    late.join();
    const auto jpeg = testing::decodeJpegFile(dir + "/a.jpg");
    EXPECT_EQ(jpeg.width, 8);
    EXPECT_EQ(jpeg.height, 6);
    EXPECT_GT(jpeg.at(4, 3)[2], 240);  // blue
}

TEST_F(Watch, SnapshotReasons) {
    FrameStore store(8, 6, 100ms);
    store.offer(Image{});
    EXPECT_EQ(store.snapshot(dir + "/a.jpg"), "cgimage failed");
    store.offer(testing::solid(4, 3, 0, 0, 0));
    EXPECT_EQ(store.snapshot(dir + "/missing/a.jpg"), "write failed");
    store.markStopped();
    EXPECT_EQ(store.snapshot(dir + "/a.jpg"), "stopped");  // even with a frame held
}

TEST_F(Watch, CaptureFeedsTheStoreUntilTheStreamStops) {
    FrameStore store(8, 6, 100ms);
    testing::FakeStream stream;
    stream.grabs.push_back({WindowStream::Status::noFrame, {}});
    stream.grabs.push_back({WindowStream::Status::frame, testing::solid(4, 3, 0, 255, 0)});
    runCapture(stream, store, 1ms);
    EXPECT_EQ(stream.calls, 3);
    EXPECT_EQ(store.snapshot(dir + "/a.jpg"), "stopped");
}

TEST_F(Watch, CommandLines) {
    FrameStore store(8, 6, 100ms);
    store.offer(testing::solid(4, 3, 0, 0, 255));
    const auto replies = serve(store,
                               "shoot " + dir + "/a.jpg\n"
                               "shoot\nShoot " + dir + "/d.jpg\nhello\n\n"
                               "shoot " + dir + "/b c.jpg\r\n"
                               "shoot " + dir + "/missing/x.jpg\n"
                               "quit\n"
                               "shoot " + dir + "/d.jpg\n");
    EXPECT_EQ(replies, (std::vector<std::string>{"ok", "ok", "err write failed"}));
    EXPECT_EQ(access((dir + "/b c.jpg").c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/d.jpg").c_str(), F_OK), 0);
    // End of input ends the loop too, also inside an unfinished line.
    EXPECT_EQ(serve(store, "shoot " + dir + "/a.jpg"), (std::vector<std::string>{"ok"}));
    EXPECT_TRUE(serve(store, "").empty());
}

}  // namespace
}  // namespace tevoli::window

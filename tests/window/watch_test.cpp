#include "watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <thread>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

Image solid(int width, int height) { return Image::of(width, height, std::vector<std::uint8_t>(width * height * 4)); }

// Hands out the grabs it was given, then reports the window gone.
class FakeStream final : public WindowStream {
public:
    std::deque<Grab> grabs;
    int calls = 0;
    Grab grab() override {
        ++calls;
        if (grabs.empty()) return {Status::stopped, {}};
        Grab next = std::move(grabs.front());
        grabs.pop_front();
        return next;
    }
};

class Watch : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "tevoli-watch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

TEST_F(Watch, SnapshotWaitsForAFrameThenGivesUp) {
    EXPECT_EQ(FrameStore(8, 6, 100ms).snapshot(dir + "a.jpg"), "no frame");
    FrameStore store(8, 6, 60s);  // returns as soon as the frame is there
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        store.offer(solid(4, 3));
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
    FakeStream stream;
    stream.grabs.push_back({WindowStream::Status::frame, solid(4, 3)});
    stream.grabs.push_back({WindowStream::Status::noFrame, {}});
    runCapture(stream, store, 1ms, {});
    EXPECT_EQ(stream.calls, 3);
    EXPECT_EQ(store.snapshot(dir + "a.jpg"), "stopped");
}

}  // namespace
}  // namespace tevoli::window

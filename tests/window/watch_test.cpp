#include "watch.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;

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

// Records what it was asked to write and answers with `status`.
struct FakeFiles final : ImageFiles {
    Status status = Status::ok;
    std::vector<std::string> written;  // "<path> <width>x<height> from <image width>x<image height>"
    Written writeJpeg(const Image& image, int width, int height, const std::string& path) override {
        written.push_back(path + " " + std::to_string(width) + "x" + std::to_string(height) + " from " +
                          std::to_string(image.width) + "x" + std::to_string(image.height));
        return {status, "EIO"};
    }
};

TEST(Watch, SnapshotWaitsForAFrameThenGivesUp) {
    FakeFiles files;
    EXPECT_EQ(FrameStore(files, 8, 6, 100ms).snapshot("a.jpg"), "no frame");
    FrameStore store(files, 8, 6, 60s);  // returns as soon as the frame is there
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        store.offer(solid(4, 3));
    });
    EXPECT_EQ(store.snapshot("a.jpg"), std::nullopt);
    late.join();
    EXPECT_EQ(files.written, std::vector<std::string>{"a.jpg 8x6 from 4x3"});
}

TEST(Watch, EachWriteFailureHasItsReply) {
    const std::pair<ImageFiles::Status, const char*> cases[] = {
        {ImageFiles::Status::renderFailed, "cgimage failed"},
        {ImageFiles::Status::encodeFailed, "jpeg encode failed"},
        {ImageFiles::Status::writeFailed, "write failed"},
    };
    for (const auto& [status, reply] : cases) {
        FakeFiles files;
        files.status = status;
        FrameStore store(files, 8, 6, 100ms);
        store.offer(solid(4, 3));
        EXPECT_EQ(store.snapshot("a.jpg"), reply);
    }
}

// A window that is away for a while (no frame) keeps the stream going; once it is
// gone, shots answer "stopped" even though a frame is held.
TEST(Watch, CaptureFeedsTheStoreUntilTheStreamStops) {
    FakeFiles files;
    FrameStore store(files, 8, 6, 100ms);
    FakeStream stream;
    stream.grabs.push_back({WindowStream::Status::frame, solid(4, 3)});
    stream.grabs.push_back({WindowStream::Status::noFrame, {}});
    runCapture(stream, store, 1ms);
    EXPECT_EQ(stream.calls, 3);
    EXPECT_EQ(store.snapshot("a.jpg"), "stopped");
    EXPECT_TRUE(files.written.empty());
}

}  // namespace
}  // namespace tevoli::window

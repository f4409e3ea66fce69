#include "capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <thread>

namespace tevoli::systemaudio {
namespace {

// Records the steps the capture asked of the tap; `failAt` names the one that fails.
class FakeAudioTap : public SystemAudioTap {
public:
    std::string failAt;
    TapFormat format{48000.0, 2};
    std::vector<std::string> calls;
    std::string deviceName;
    PendingBuffer* pending = nullptr;

    bool createTap() override { return step("createTap"); }
    bool readFormat(TapFormat& out) override {
        out = format;
        return step("readFormat");
    }
    bool createDevice(std::string_view name) override {
        deviceName = name;
        return step("createDevice");
    }
    bool installReader(PendingBuffer& buffer, std::function<void(std::string)>) override {
        pending = &buffer;
        return step("installReader");
    }
    bool startDevice() override { return step("startDevice"); }
    void cleanup() override { calls.push_back("cleanup"); }

private:
    bool step(const std::string& name) {
        calls.push_back(name);
        return name != failAt;
    }
};

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int writeEnd() const { return fds[1]; }
    // Reads until `size` bytes arrived or nothing came for `waitMs`; 0 takes what is there.
    std::string read(size_t size = SIZE_MAX, int waitMs = 0) {
        std::string all;
        char buffer[65536];
        pollfd readable{fds[0], POLLIN, 0};
        while (all.size() < size && ::poll(&readable, 1, waitMs) == 1) {
            const ssize_t n = ::read(fds[0], buffer, std::min(sizeof buffer, size - all.size()));
            if (n <= 0) break;
            all.append(buffer, static_cast<size_t>(n));
        }
        return all;
    }
};

struct CaptureTest : ::testing::Test {
    FakeAudioTap tap;
    Pipe out;
    Pipe err;

    std::unique_ptr<Capture> makeCapture() {
        return std::make_unique<Capture>(tap, Streams{out.writeEnd(), err.writeEnd()}, [] { return false; });
    }
};

struct FailingStep {
    const char* step;
    const char* message;
    bool headerWritten;
};

class StartFailure : public CaptureTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(StartFailure, StopsAtTheStepWithItsMessage) {
    const FailingStep& c = GetParam();
    tap.failAt = c.step;
    auto capture = makeCapture();
    const Capture::Outcome outcome = capture->start();
    EXPECT_EQ(outcome.kind, Capture::Outcome::failed);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(tap.calls.back(), c.step);
    capture.reset();
    EXPECT_EQ(out.read(), c.headerWritten ? "TEVOLI_AUDIO 48000 2\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, StartFailure,
    ::testing::Values(
        FailingStep{"createTap", "AudioHardwareCreateProcessTap failed (is audio-capture permission granted?)", false},
        FailingStep{"readFormat", "could not read tap format", false},
        FailingStep{"createDevice", "AudioHardwareCreateAggregateDevice failed", false},
        FailingStep{"installReader", "AudioDeviceCreateIOProcIDWithBlock failed", true},
        FailingStep{"startDevice", "AudioDeviceStart failed", true}));

TEST_F(CaptureTest, AFormatNoStreamCanHaveIsAFormatFailure) {
    const double inf = std::numeric_limits<double>::infinity();
    for (TapFormat bad : std::initializer_list<TapFormat>{
             {std::nan(""), 2}, {inf, 2}, {1e19, 2}, {0.5, 2}, {0, 2}, {-48000, 2}, {48000, 0}}) {
        tap.format = bad;
        EXPECT_EQ(makeCapture()->start().message, "could not read tap format") << bad.sampleRate;
    }
    EXPECT_EQ(out.read(), "");
}

TEST_F(CaptureTest, StartsInOrderAndStreamsAfterTheHeader) {
    tap.format = {44100.7, 2};  // announced truncated
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    EXPECT_EQ(tap.calls,
              (std::vector<std::string>{"createTap", "readFormat", "createDevice", "installReader", "startDevice"}));
    EXPECT_EQ(tap.deviceName, "Tevoli System Capture");
    EXPECT_EQ(err.read(), "tevoli-systemaudio: capturing 44100 Hz, 2 ch\n");

    tap.pending->append("abc", 3);
    tap.pending->append(nullptr, 8);  // a cycle without data adds nothing
    tap.pending->append("defg", 4);
    EXPECT_EQ(out.read(21 + 7, 10000), "TEVOLI_AUDIO 44100 2\nabcdefg");
}

TEST_F(CaptureTest, CleanupStopsTheDeviceThenHandsOverWhatIsPending) {
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    std::string tail(100000, 't');  // more than a pipe holds
    tap.pending->append(tail.data(), tail.size());
    std::string received;
    std::thread reader([&] { received = out.read(21 + tail.size(), 10000); });
    capture->cleanup();
    EXPECT_EQ(tap.calls.back(), "cleanup");
    capture.reset();  // the program exits right after cleanup: nothing more gets written
    reader.join();
    EXPECT_EQ(received, "TEVOLI_AUDIO 48000 2\n" + tail);
}

TEST(PendingBuffer, TheStorageOfAStalledReadersBacklogIsGivenBack) {
    PendingBuffer pending;
    std::vector<std::uint8_t> chunk;
    const std::vector<std::uint8_t> backlog(6 << 20), fragment(5760);
    pending.append(backlog.data(), backlog.size());
    ASSERT_TRUE(pending.takeAll(chunk));
    // The writer and the IO thread trade storage at every take: two more and both have had it.
    for (int take = 0; take < 2; ++take) {
        pending.append(fragment.data(), fragment.size());
        ASSERT_TRUE(pending.takeAll(chunk));
    }
    EXPECT_LT(chunk.capacity(), backlog.size());
}

TEST(StopRequest, ASignalEndsWithStatusZeroEvenWhenTheCaptureFailsMeanwhile) {
    StopRequest stop;
    stop.requestFromSignal();
    stop.request({1, "capture lost: Connection terminated"});
    EXPECT_EQ(stop.wait().status, 0);
}

}  // namespace
}  // namespace tevoli::systemaudio

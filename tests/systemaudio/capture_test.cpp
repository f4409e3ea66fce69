#include "capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <future>
#include <limits>
#include <semaphore>

namespace tevoli::systemaudio {
namespace {

using namespace std::chrono_literals;

constexpr char kHeader[] = "TEVOLI_AUDIO 48000 2\n";
constexpr char kCapturing[] = "tevoli-systemaudio: capturing 48000 Hz, 2 ch\n";

// Records the steps the capture asked of the tap; `failAt` names the one that fails.
class FakeAudioTap : public SystemAudioTap {
public:
    std::string failAt;
    TapFormat format{48000.0, 2};
    std::vector<std::string> calls;
    std::string deviceName;
    PendingBuffer* pending = nullptr;
    std::function<void(std::string)> lost;

    bool createTap() override { return step("createTap"); }
    bool readFormat(TapFormat& out) override {
        out = format;
        return step("readFormat");
    }
    bool createDevice(std::string_view name) override {
        deviceName = name;
        return step("createDevice");
    }
    bool installReader(PendingBuffer& buffer, std::function<void(std::string)> onLost) override {
        pending = &buffer;
        lost = std::move(onLost);
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
        closeReadEnd();
        ::close(fds[1]);
    }
    int writeEnd() const { return fds[1]; }
    void closeReadEnd() {
        if (fds[0] >= 0) ::close(fds[0]);
        fds[0] = -1;
    }
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
    std::atomic<long> parent{4242};
    Timing timing{1ms, 1ms, 500ms};
    std::unique_ptr<Capture> capture;
    StopRequest* stop = nullptr;
    std::binary_semaphore capturing{0};

    static void SetUpTestSuite() { ::signal(SIGPIPE, SIG_IGN); }

    // Runs the capture on a thread of its own, as the program's main thread does.
    std::future<Ending> run() {
        capture = std::make_unique<Capture>(tap, [this] { return parent.load(); },
                                            Streams{out.writeEnd(), err.writeEnd()}, timing);
        return std::async(std::launch::async, [this] {
            return capture->run([this](StopRequest& request) {
                stop = &request;
                capturing.release();
            });
        });
    }
    Ending runToEnd() { return run().get(); }
    void awaitCapturing() { ASSERT_TRUE(capturing.try_acquire_for(10s)); }
};

struct FailingStep {
    const char* step;
    const char* message;
    bool headerWritten;
};

class StartFailure : public CaptureTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(StartFailure, StopsAtTheStepWithItsMessageAndDismantlesNothing) {
    const FailingStep& c = GetParam();
    tap.failAt = c.step;
    const Ending ending = runToEnd();
    EXPECT_EQ(ending.status, 1);
    EXPECT_EQ(ending.message, c.message);
    EXPECT_EQ(tap.calls.back(), c.step);
    capture.reset();
    EXPECT_EQ(out.read(), c.headerWritten ? kHeader : "");
    EXPECT_EQ(err.read(), c.headerWritten ? kCapturing : "");
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
        EXPECT_EQ(runToEnd().message, "could not read tap format") << bad.sampleRate;
    }
    EXPECT_EQ(out.read(), "");
}

TEST_F(CaptureTest, AHeaderThatCannotBeWrittenEndsWithZeroAndNothingSaid) {
    out.closeReadEnd();
    const Ending ending = runToEnd();
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(ending.message, "");
    EXPECT_EQ(tap.calls.back(), "createDevice");
    EXPECT_EQ(err.read(), "");
}

TEST_F(CaptureTest, StartsInOrderAndStreamsAfterTheHeader) {
    tap.format = {44100.7, 2};  // announced truncated
    auto ending = run();
    awaitCapturing();
    EXPECT_EQ(tap.calls,
              (std::vector<std::string>{"createTap", "readFormat", "createDevice", "installReader", "startDevice"}));
    EXPECT_EQ(tap.deviceName, "Tevoli System Capture");
    EXPECT_EQ(err.read(), "tevoli-systemaudio: capturing 44100 Hz, 2 ch\n");

    tap.pending->append("abc", 3);
    tap.pending->append(nullptr, 8);  // a cycle without data adds nothing
    tap.pending->append("defg", 4);
    EXPECT_EQ(out.read(21 + 7, 10000), "TEVOLI_AUDIO 44100 2\nabcdefg");
    stop->requestFromSignal();
    EXPECT_EQ(ending.get().status, 0);
}

struct WayOut {
    const char* name;
    std::function<void(CaptureTest&)> cause;
    int status;
    const char* message;
};

class EndsAfterStart : public CaptureTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(EndsAfterStart, WithItsStatusAfterStoppingTheDevice) {
    auto ending = run();
    awaitCapturing();
    GetParam().cause(*this);
    const Ending ended = ending.get();
    EXPECT_EQ(ended.status, GetParam().status);
    EXPECT_EQ(ended.message, GetParam().message);
    EXPECT_EQ(tap.calls.back(), "cleanup");
    EXPECT_EQ(err.read(), kCapturing);
}

INSTANTIATE_TEST_SUITE_P(
    EachCause, EndsAfterStart,
    ::testing::Values(
        WayOut{"signal", [](CaptureTest& t) { t.stop->requestFromSignal(); }, 0, ""},
        // A signal wins over a failure that comes while the main thread wakes.
        WayOut{"signalThenLoss",
               [](CaptureTest& t) {
                   t.stop->requestFromSignal();
                   t.tap.lost("Connection terminated");
               },
               0, ""},
        WayOut{"captureLost", [](CaptureTest& t) { t.tap.lost("Connection terminated"); }, 1,
               "capture lost: Connection terminated"},
        WayOut{"parentAdoptedBySubreaper", [](CaptureTest& t) { t.parent = 77; }, 0, ""},
        WayOut{"parentAdoptedByInit", [](CaptureTest& t) { t.parent = 1; }, 0, ""},
        WayOut{"readerClosedThePipe",
               [](CaptureTest& t) {
                   t.out.closeReadEnd();
                   t.tap.pending->append("x", 1);
               },
               0, ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(CaptureTest, AParentAlreadyGoneAtStartEndsAtTheFirstCheck) {
    parent = 1;
    timing.parentPoll = 1h;  // only the first check can see it
    const Ending ending = runToEnd();
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(tap.calls.back(), "cleanup");
    EXPECT_EQ(out.read(), kHeader);
}

TEST_F(CaptureTest, TheEndHandsOverWhatIsPendingWhileTheReaderReads) {
    timing.drainLimit = 1h;
    auto ending = run();
    awaitCapturing();
    ASSERT_EQ(out.read(sizeof kHeader - 1, 10000), kHeader);
    const std::string tail(300000, 't');  // far more than a pipe holds
    tap.pending->append(tail.data(), tail.size());
    stop->requestFromSignal();
    EXPECT_EQ(out.read(tail.size(), 10000), tail);
    EXPECT_EQ(ending.get().status, 0);
}

TEST_F(CaptureTest, TheEndDoesNotWaitForAReaderThatStoppedReading) {
    timing.drainLimit = 0ms;
    auto ending = run();
    awaitCapturing();
    const std::string tail(300000, 't');
    tap.pending->append(tail.data(), tail.size());
    stop->requestFromSignal();
    EXPECT_EQ(ending.get().status, 0);  // returns although the writer is stuck on the full pipe
    out.closeReadEnd();                 // lets the writer go before the capture is destroyed
}

TEST(PendingBuffer, TheStorageOfAStalledReadersBacklogIsGivenBack) {
    PendingBuffer pending;
    std::string chunk;
    const std::string backlog(6 << 20, 'b'), fragment(5760, 'f');
    pending.append(backlog.data(), backlog.size());
    ASSERT_TRUE(pending.takeAll(chunk));
    // The writer and the IO thread trade storage at every take: two more and both have had it.
    for (int take = 0; take < 2; ++take) {
        pending.written();
        pending.append(fragment.data(), fragment.size());
        ASSERT_TRUE(pending.takeAll(chunk));
    }
    EXPECT_LT(chunk.capacity(), backlog.size());
}

}  // namespace
}  // namespace tevoli::systemaudio

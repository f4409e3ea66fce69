#include "capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "fake_audio_tap.h"
#include "process_setup.h"

namespace tevoli::systemaudio {
namespace {

using namespace std::chrono_literals;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0) ::close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
    // Everything written so far, without waiting for more.
    std::string drain() {
        fcntl(read, F_SETFL, O_NONBLOCK);
        std::string all;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(read, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
        return all;
    }
    // Reads until `size` bytes arrived (or 10 s passed).
    std::string readExactly(size_t size) {
        std::string all;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        char buffer[65536];
        while (all.size() < size && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::read(read, buffer, std::min(sizeof buffer, size - all.size()));
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
    std::atomic<bool> parentGone{false};

    // Closed readers must show up as failed writes, as in the program.
    void SetUp() override { ignoreBrokenPipe(); }

    std::unique_ptr<Capture> makeCapture() {
        return std::make_unique<Capture>(tap, Streams{out.write, err.write}, [this] { return parentGone.load(); });
    }
};

TEST(CaptureLines, HeaderAndCapturingLineAreExact) {
    EXPECT_EQ(headerLine(44100, 2), "TEVOLI_AUDIO 44100 2\n");
    EXPECT_EQ(capturingLine(48000, 2), "tevoli-systemaudio: capturing 48000 Hz, 2 ch\n");
}

TEST(CaptureLines, RateIsTruncatedAndUnusableRatesAreRefused) {
    std::int64_t rate = 0;
    EXPECT_TRUE(announcedRate(44100.9, rate));
    EXPECT_EQ(rate, 44100);
    for (double bad : {0.0, -48000.0, 0.5, std::nan(""), std::numeric_limits<double>::infinity(), 1e19}) {
        EXPECT_FALSE(announcedRate(bad, rate)) << bad;
    }
}

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
    EXPECT_EQ(out.drain(), c.headerWritten ? "TEVOLI_AUDIO 48000 2\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, StartFailure,
    ::testing::Values(
        FailingStep{"createTap", "AudioHardwareCreateProcessTap failed (is audio-capture permission granted?)", false},
        FailingStep{"readFormat", "could not read tap format", false},
        FailingStep{"createDevice", "AudioHardwareCreateAggregateDevice failed", false},
        FailingStep{"installReader", "AudioDeviceCreateIOProcIDWithBlock failed", true},
        FailingStep{"startDevice", "AudioDeviceStart failed", true}));

TEST_F(CaptureTest, ARateNoStreamCanHaveIsAFormatFailure) {
    tap.format.sampleRate = std::nan("");
    EXPECT_EQ(makeCapture()->start().message, "could not read tap format");
    EXPECT_EQ(out.drain(), "");
}

TEST_F(CaptureTest, StartsInOrderAndStreamsAfterTheHeader) {
    tap.format = {44100.7, 2};
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    EXPECT_EQ(tap.calls,
              (std::vector<std::string>{"createTap", "readFormat", "createDevice", "installReader", "startDevice"}));
    EXPECT_EQ(tap.deviceName, "Tevoli System Capture");
    EXPECT_EQ(err.drain(), "tevoli-systemaudio: capturing 44100 Hz, 2 ch\n");

    tap.pending->append("abc", 3);
    tap.pending->append(nullptr, 8);  // a cycle without data adds nothing
    tap.pending->append("defg", 4);
    EXPECT_EQ(out.readExactly(21 + 7), "TEVOLI_AUDIO 44100 2\nabcdefg");
}

TEST_F(CaptureTest, APausedReaderLosesNothing) {
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    // Far more than a pipe holds, while nobody reads: the writer blocks on the full
    // pipe with the first half and the second half waits in the buffer.
    std::string expected;
    for (int half = 0; half < 2; ++half) {
        for (int cycle = 0; cycle < 200; ++cycle) {
            std::string bytes(1000 + cycle, static_cast<char>('a' + cycle % 26));
            tap.pending->append(bytes.data(), bytes.size());
            expected += bytes;
        }
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GT(tap.pending->size(), 0u);
    EXPECT_EQ(out.readExactly(21 + expected.size()), "TEVOLI_AUDIO 48000 2\n" + expected);
}

TEST_F(CaptureTest, EndsEachWay) {
    {
        auto capture = makeCapture();
        ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
        tap.lost("Connection terminated");
        const Ending ending = capture->waitForEnd();
        EXPECT_EQ(ending.status, 1);
        EXPECT_EQ(ending.message, "capture lost: Connection terminated");
    }
    {
        auto capture = makeCapture();
        ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
        parentGone = true;
        const Ending ending = capture->waitForEnd();
        EXPECT_EQ(ending.status, 0);
        EXPECT_EQ(ending.message, "");
    }
}

TEST_F(CaptureTest, AClosedReaderEndsWithStatusZero) {
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    out.closeRead();
    tap.pending->append("x", 1);
    const Ending ending = capture->waitForEnd();
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(ending.message, "");
    capture->cleanup();  // returns at once: there is nobody to hand the rest to
}

TEST_F(CaptureTest, AnUnwritableHeaderEndsQuietly) {
    out.closeRead();
    auto capture = makeCapture();
    EXPECT_EQ(capture->start().kind, Capture::Outcome::outputClosed);
    EXPECT_EQ(err.drain(), "");
    EXPECT_EQ(tap.calls.back(), "createDevice");
}

TEST_F(CaptureTest, CleanupStopsTheDeviceThenHandsOverWhatIsPending) {
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    std::string tail(100000, 't');
    tap.pending->append(tail.data(), tail.size());
    std::string received;
    std::thread reader([&] { received = out.readExactly(21 + tail.size()); });
    capture->cleanup();
    EXPECT_EQ(tap.calls.back(), "cleanup");
    EXPECT_EQ(tap.pending->size(), 0u);
    reader.join();
    EXPECT_EQ(received, "TEVOLI_AUDIO 48000 2\n" + tail);
}

TEST(WriteAll, WritesEverythingOrReportsFailure) {
    ignoreBrokenPipe();
    EXPECT_TRUE(writeAll(-1, nullptr, 0));  // nothing to write makes no call
    Pipe pipe;
    const std::string bytes = "0123456789";
    EXPECT_TRUE(writeAll(pipe.write, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_EQ(pipe.drain(), bytes);
    pipe.closeRead();
    EXPECT_FALSE(writeAll(pipe.write, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace
}  // namespace tevoli::systemaudio

#include "capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <thread>

#include "fake_audio_tap.h"
#include "process_setup.h"

namespace tevoli::systemaudio {
namespace {

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
    // Reads until `size` bytes arrived, or nothing came for 10 s.
    std::string readExactly(size_t size) {
        std::string all;
        char buffer[65536];
        pollfd readable{read, POLLIN, 0};
        while (all.size() < size && ::poll(&readable, 1, 10000) == 1) {
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

    std::unique_ptr<Capture> makeCapture() {
        return std::make_unique<Capture>(tap, Streams{out.write, err.write}, [] { return false; });
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

TEST_F(CaptureTest, CleanupStopsTheDeviceThenHandsOverWhatIsPending) {
    auto capture = makeCapture();
    ASSERT_EQ(capture->start().kind, Capture::Outcome::capturing);
    std::string tail(100000, 't');
    tap.pending->append(tail.data(), tail.size());
    std::string received;
    std::thread reader([&] { received = out.readExactly(21 + tail.size()); });
    capture->cleanup();
    EXPECT_EQ(tap.calls.back(), "cleanup");
    capture.reset();  // the program exits right after cleanup: nothing more gets written
    reader.join();
    EXPECT_EQ(received, "TEVOLI_AUDIO 48000 2\n" + tail);
}

TEST(WriteAll, WritesEverythingOrReportsFailure) {
    ignoreBrokenPipe();  // a closed reader shows as a failed write, as in the program
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

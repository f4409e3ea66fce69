#include "capture.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <future>
#include <limits>
#include <semaphore>

namespace tevoli::systemaudio {
namespace {

using namespace std::chrono_literals;

const std::string kHeader = "TEVOLI_AUDIO 48000 2\n";
const std::string kCapturing = "tevoli-systemaudio: capturing 48000 Hz, 2 ch\n";

// Records the steps the capture asked of the tap; `failAt` names the one that fails.
struct FakeTap : SystemAudioTap {
    std::string failAt, deviceName;
    TapFormat format{48000.0, 2};
    std::vector<std::string> calls;
    PendingBuffer* pending = nullptr;
    std::function<void(std::string)> lost;

    bool step(const char* name) {
        calls.push_back(name);
        return name != failAt;
    }
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
    std::binary_semaphore running{0};
    bool startDevice() override {
        if (!step("startDevice")) return false;
        running.release();
        return true;
    }
    void cleanup() override { calls.push_back("cleanup"); }
};

// The program's end of a standard stream is fds[1].
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0); }
    ~Pipe() {
        closeReadEnd();
        ::close(fds[1]);
    }
    void closeReadEnd() {
        if (fds[0] >= 0) ::close(std::exchange(fds[0], -1));
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

// One capture on a thread of its own, as the program's main thread runs it.
struct Running {
    FakeTap tap;
    Pipe out, err;
    std::atomic<long> parent{4242};
    Timing timing{1ms, 500ms};
    std::unique_ptr<Capture> capture;
    StopRequest* stop = nullptr;
    std::string writtenBeforeStops;
    std::future<Ending> ending;

    ~Running() {
        if (stop && capture) stop->requestFromSignal();  // a failed test must not leave the run waiting
    }
    Running& start() {
        ::signal(SIGPIPE, SIG_IGN);
        capture = std::make_unique<Capture>(tap, [this] { return parent.load(); }, Streams{out.fds[1], err.fds[1]},
                                            timing);
        ending = std::async(std::launch::async, [this] {
            return capture->run([this](StopRequest& request) {
                stop = &request;
                writtenBeforeStops = out.read() + err.read();
            });
        });
        return *this;
    }
};

TEST(Capture, AFailedStartStopsAtItsStepWithItsMessageAndDismantlesWhatItMade) {
    const struct {
        const char* failAt;
        const char* message;
        bool started;  // the header and the capturing line are out
        bool readerGone = false;
    } cases[] = {
        {"createTap", "AudioHardwareCreateProcessTap failed (is audio-capture permission granted?)", false},
        {"readFormat", "could not read tap format", false},
        {"createDevice", "AudioHardwareCreateAggregateDevice failed", false},
        {"installReader", "AudioDeviceCreateIOProcIDWithBlock failed", true},
        {"startDevice", "AudioDeviceStart failed", true},
        // A header that cannot be written ends the run with nothing said.
        {"", "", false, true},
    };
    for (const auto& c : cases) {
        Running run;
        run.tap.failAt = c.failAt;
        if (c.readerGone) run.out.closeReadEnd();
        const Ending ending = run.start().ending.get();
        EXPECT_EQ(ending.status, c.readerGone ? 0 : 1);
        EXPECT_EQ(ending.message, c.message);
        const std::vector<std::string> last{c.readerGone ? "createDevice" : c.failAt, "cleanup"};
        EXPECT_EQ(std::vector(run.tap.calls.end() - 2, run.tap.calls.end()), last);
        run.capture.reset();
        if (!c.readerGone) {
            EXPECT_EQ(run.out.read(), c.started ? kHeader : "") << c.failAt;
        }
        EXPECT_EQ(run.err.read(), c.started ? kCapturing : "") << c.failAt;
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (TapFormat bad : std::initializer_list<TapFormat>{
             {std::nan(""), 2}, {inf, 2}, {1e19, 2}, {0.5, 2}, {0, 2}, {-48000, 2}, {48000, 0}}) {
        Running run;
        run.tap.format = bad;
        EXPECT_EQ(run.start().ending.get().message, "could not read tap format") << bad.sampleRate;
        EXPECT_EQ(run.out.read(), "");
    }
}

TEST(Capture, StartsInOrderAndStreamsAfterTheHeader) {
    Running run;
    run.tap.format = {44100.7, 2};  // announced truncated
    ASSERT_TRUE(run.start().tap.running.try_acquire_for(10s));
    EXPECT_EQ(run.writtenBeforeStops, "") << "a stop signal before the header would kill the program";
    EXPECT_EQ(run.tap.calls,
              (std::vector<std::string>{"createTap", "readFormat", "createDevice", "installReader", "startDevice"}));
    EXPECT_EQ(run.tap.deviceName, "Tevoli System Capture");
    EXPECT_EQ(run.err.read(), "tevoli-systemaudio: capturing 44100 Hz, 2 ch\n");
    run.tap.pending->append("abc", 3);
    run.tap.pending->append(nullptr, 8);  // a cycle without data adds nothing
    run.tap.pending->append("defg", 4);
    EXPECT_EQ(run.out.read(21 + 7, 10000), "TEVOLI_AUDIO 44100 2\nabcdefg");
}

TEST(Capture, EndsWithTheStatusOfWhatEndedItAfterStoppingTheDevice) {
    const struct {
        const char* name;
        std::function<void(Running&)> cause;
        int status;
        std::string message;
    } cases[] = {
        // A signal wins over a failure that comes while the main thread wakes.
        {"signal, then loss",
         [](Running& r) {
             r.stop->requestFromSignal();
             r.tap.lost("Connection terminated");
         },
         0, ""},
        {"parent adopted by a subreaper", [](Running& r) { r.parent = 77; }, 0, ""},
    };
    for (const auto& c : cases) {
        Running run;
        ASSERT_TRUE(run.start().tap.running.try_acquire_for(10s));
        c.cause(run);
        ASSERT_EQ(run.ending.wait_for(10s), std::future_status::ready) << c.name << " did not end the capture";
        const Ending ending = run.ending.get();
        EXPECT_EQ(std::tie(ending.status, ending.message), std::tie(c.status, c.message)) << c.name;
        EXPECT_EQ(run.tap.calls.back(), "cleanup") << c.name;
        EXPECT_EQ(run.err.read(), kCapturing) << c.name;
    }
    // A parent already gone at the start is seen at the first check.
    Running run;
    run.parent = 1;
    run.timing.parentPoll = 1h;
    EXPECT_EQ(run.start().ending.get().status, 0);
    EXPECT_EQ(run.tap.calls.back(), "cleanup");
    EXPECT_EQ(run.out.read(), kHeader);
}

TEST(Capture, TheEndHandsOverWhatIsPendingUnlessTheReaderStoppedReading) {
    const std::string tail(8 << 20, 't');  // far more than a pipe holds
    for (const bool reading : {true, false}) {
        Running run;
        run.timing.drainLimit = reading ? 1h : 0ms;
        ASSERT_TRUE(run.start().tap.running.try_acquire_for(10s));
        ASSERT_EQ(run.out.read(kHeader.size(), 10000), kHeader);
        run.tap.pending->append(tail.data(), tail.size());
        auto read = std::async(std::launch::async, [&] { return reading ? run.out.read(tail.size(), 10000) : ""; });
        run.stop->requestFromSignal();
        EXPECT_EQ(run.ending.get().status, 0);  // also while the writer is stuck on a full pipe
        // The program ends here: nothing written afterwards reaches the reader.
        shutdown(run.out.fds[1], SHUT_WR);
        EXPECT_EQ(read.get().size(), reading ? tail.size() : 0);
    }
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

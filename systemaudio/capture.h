#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "pending_buffer.h"
#include "stop_request.h"
#include "system_audio_tap.h"

namespace tevoli::systemaudio {

inline constexpr std::string_view kFailPrefix = "tevoli-systemaudio: ";
inline constexpr std::string_view kDeviceName = "Tevoli System Capture";

std::string headerLine(std::int64_t sampleRate, std::int64_t channels);
std::string capturingLine(std::int64_t sampleRate, std::int64_t channels);
// The announced rate: truncated toward zero; false for a rate no stream can have.
bool announcedRate(double rate, std::int64_t& sampleRate);

struct Streams {
    int out = 1;
    int err = 2;
};

// The capture's waits, shortened by tests.
struct Timing {
    std::chrono::milliseconds parentPoll{1000};
    // How long the end waits for the writer to hand over the last audio, so a reader
    // that stopped reading cannot hold the exit.
    std::chrono::milliseconds drainLimit{500};
};

// The capture lifecycle: start-up in its fixed order, the writer and parent watchdog
// threads, and the way out. The program exits with the object alive (a writer may
// be stuck on a full pipe); destroying it stops the threads, for tests.
class Capture {
public:
    // `parentId` gives the current parent process id; its first answer is the
    // parent the program started with.
    Capture(SystemAudioTap& tap, std::function<long()> parentId, Streams streams = {}, Timing timing = {});
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Hands the stop request to `takeStops` (the program takes its stop signals
    // there, before anything is written), starts the capture, waits until something
    // ends it, then stops the device and drains what is pending. Returns how the
    // program ends, with the tap dismantled on every way out, a failed start too.
    Ending run(const std::function<void(StopRequest&)>& takeStops);

private:
    std::optional<Ending> start();
    void writeLoop(std::stop_token stopping);
    void watchParent(std::stop_token stopping);
    void cleanup();

    SystemAudioTap& tap_;
    const std::function<long()> parentId_;
    const long startParent_;
    const Streams streams_;
    const Timing timing_;
    PendingBuffer pending_;
    StopRequest stop_;
    std::atomic<bool> outputClosed_{false};
    std::mutex watchMutex_;
    std::condition_variable_any watchWake_;
    // Last, so they stop before the state they use goes away.
    std::jthread writer_;
    std::jthread parentWatch_;
};

}  // namespace tevoli::systemaudio

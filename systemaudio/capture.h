#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "pending_buffer.h"
#include "stop_request.h"
#include "system_audio_tap.h"

namespace tevoli::systemaudio {

inline constexpr std::string_view failPrefix = "tevoli-systemaudio: ";
inline constexpr std::string_view deviceName = "Tevoli System Capture";

std::string headerLine(std::int64_t sampleRate, std::int64_t channels);
std::string capturingLine(std::int64_t sampleRate, std::int64_t channels);
// The announced rate: truncated toward zero; false for a rate no stream can have.
bool announcedRate(double rate, std::int64_t& sampleRate);

struct Streams {
    int out = 1;
    int err = 2;
};

// The capture lifecycle: start-up in its fixed order, the writer and parent watchdog
// threads, and the way out. The object is never destroyed in the program (exit ends
// it with its threads running); destroying it stops the threads, for tests.
class Capture {
public:
    struct Outcome {
        enum Kind { capturing, failed, outputClosed } kind = capturing;
        std::string message;  // for `failed`
    };

    Capture(SystemAudioTap& tap, Streams streams, std::function<bool()> parentGone);
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Creates the tap and device, writes the header and the "capturing" line, starts
    // the threads and the device.
    Outcome start();
    StopRequest& stopRequest() { return stop; }
    // Parks until something ends the capture.
    Ending waitForEnd() { return stop.wait(); }
    // Exit-time: stops the device, then lets the writer hand over what is still
    // pending (bounded, so a reader that stopped reading cannot hold the exit).
    void cleanup();

    std::int64_t sampleRate() const { return rate; }
    std::int64_t channels() const { return channelCount; }

private:
    void writeLoop(std::stop_token stopping);
    void watchParent(std::stop_token stopping);

    SystemAudioTap& tap;
    const Streams streams;
    const std::function<bool()> parentGone;
    std::int64_t rate = 0;
    std::int64_t channelCount = 0;
    PendingBuffer pending;
    StopRequest stop;
    std::atomic<bool> writing{false};
    std::atomic<bool> outputClosed{false};
    std::mutex watchLock;
    std::condition_variable_any watchWake;
    // Last, so they stop before the state they use goes away.
    std::jthread writer;
    std::jthread parentWatch;
};

}  // namespace tevoli::systemaudio

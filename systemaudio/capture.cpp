#include "capture.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

namespace tevoli::systemaudio {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view tapFailed =
    "AudioHardwareCreateProcessTap failed (is audio-capture permission granted?)";
constexpr std::string_view formatFailed = "could not read tap format";
constexpr std::string_view deviceFailed = "AudioHardwareCreateAggregateDevice failed";
constexpr std::string_view readerFailed = "AudioDeviceCreateIOProcIDWithBlock failed";
constexpr std::string_view startFailed = "AudioDeviceStart failed";
constexpr std::string_view captureLost = "capture lost: ";

constexpr auto writerIdlePoll = 10ms;
constexpr auto parentPoll = 1s;
// How long the exit waits for the writer to hand over the last audio.
constexpr auto drainLimit = 500ms;

}  // namespace

std::string headerLine(std::int64_t sampleRate, std::int64_t channels) {
    return "TEVOLI_AUDIO " + std::to_string(sampleRate) + " " + std::to_string(channels) + "\n";
}

std::string capturingLine(std::int64_t sampleRate, std::int64_t channels) {
    return std::string(failPrefix) + "capturing " + std::to_string(sampleRate) + " Hz, " +
           std::to_string(channels) + " ch\n";
}

bool announcedRate(double rate, std::int64_t& sampleRate) {
    // 2^63 as a double; anything at or above it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(rate) || rate < 1.0 || rate >= limit) return false;
    sampleRate = static_cast<std::int64_t>(rate);
    return true;
}

Capture::Capture(SystemAudioTap& tap, Streams streams, std::function<bool()> parentGone)
    : tap(tap), streams(streams), parentGone(std::move(parentGone)) {}

Capture::Outcome Capture::start() {
    auto failed = [](std::string_view message) { return Outcome{Outcome::failed, std::string(message)}; };
    if (!tap.createTap()) return failed(tapFailed);
    TapFormat format;
    if (!tap.readFormat(format) || !announcedRate(format.sampleRate, rate) || format.channels < 1) {
        return failed(formatFailed);
    }
    channelCount = format.channels;
    if (!tap.createDevice(deviceName)) return failed(deviceFailed);

    const std::string header = headerLine(rate, channelCount);
    if (!writeAll(streams.out, reinterpret_cast<const std::uint8_t*>(header.data()), header.size())) {
        return Outcome{Outcome::outputClosed, {}};
    }
    const std::string capturing = capturingLine(rate, channelCount);
    [[maybe_unused]] ssize_t written = ::write(streams.err, capturing.data(), capturing.size());

    writer = std::jthread([this](std::stop_token stopping) { writeLoop(stopping); });
    parentWatch = std::jthread([this](std::stop_token stopping) { watchParent(stopping); });

    auto lost = [this](std::string reason) { stop.request({1, std::string(captureLost) + reason}); };
    if (!tap.installReader(pending, lost)) return failed(readerFailed);
    if (!tap.startDevice()) return failed(startFailed);
    return {};
}

void Capture::writeLoop(std::stop_token stopping) {
    std::vector<std::uint8_t> chunk;
    while (!stopping.stop_requested()) {
        // Raised before taking, so cleanup never sees an empty buffer while bytes
        // are still on their way out.
        writing = true;
        if (pending.takeAll(chunk)) {
            const bool written = writeAll(streams.out, chunk.data(), chunk.size());
            writing = false;
            if (!written) {
                outputClosed = true;
                stop.request({0, {}});
                return;
            }
            continue;
        }
        writing = false;
        std::this_thread::sleep_for(writerIdlePoll);
    }
}

void Capture::watchParent(std::stop_token stopping) {
    std::unique_lock guard(watchLock);
    while (!stopping.stop_requested()) {
        if (parentGone()) {
            stop.request({0, {}});
            return;
        }
        watchWake.wait_for(guard, stopping, parentPoll, [] { return false; });
    }
}

void Capture::cleanup() {
    tap.cleanup();
    const auto deadline = std::chrono::steady_clock::now() + drainLimit;
    while (!outputClosed && std::chrono::steady_clock::now() < deadline) {
        if (pending.size() == 0 && !writing) return;
        std::this_thread::sleep_for(1ms);
    }
}

}  // namespace tevoli::systemaudio

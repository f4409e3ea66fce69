#include "capture.h"

#include <unistd.h>

#include <cmath>

#include "write_all.h"

namespace tevoli::systemaudio {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kTapFailed =
    "AudioHardwareCreateProcessTap failed (is audio-capture permission granted?)";
constexpr std::string_view kFormatFailed = "could not read tap format";
constexpr std::string_view kDeviceFailed = "AudioHardwareCreateAggregateDevice failed";
constexpr std::string_view kReaderFailed = "AudioDeviceCreateIOProcIDWithBlock failed";
constexpr std::string_view kStartFailed = "AudioDeviceStart failed";
constexpr std::string_view kCaptureLost = "capture lost: ";

Ending failed(std::string_view message) { return Ending::failure(std::string(message)); }

// The parent that started the program is gone once the parent id is 1 or another
// one: an orphan is adopted by the nearest subreaper, not always by process 1.
bool parentGone(long startParent, long parent) { return parent == 1 || parent != startParent; }

}  // namespace

std::string headerLine(std::int64_t sampleRate, std::int64_t channels) {
    return "TEVOLI_AUDIO " + std::to_string(sampleRate) + " " + std::to_string(channels) + "\n";
}

std::string capturingLine(std::int64_t sampleRate, std::int64_t channels) {
    return std::string(kFailPrefix) + "capturing " + std::to_string(sampleRate) + " Hz, " +
           std::to_string(channels) + " ch\n";
}

bool announcedRate(double rate, std::int64_t& sampleRate) {
    // 2^63 as a double; anything at or above it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(rate) || rate < 1.0 || rate >= kLimit) return false;
    sampleRate = static_cast<std::int64_t>(rate);
    return true;
}

Capture::Capture(SystemAudioTap& tap, std::function<long()> parentId, Streams streams, Timing timing)
    : tap_(tap), parentId_(std::move(parentId)), startParent_(parentId_()), streams_(streams), timing_(timing) {}

Ending Capture::run(const std::function<void(StopRequest&)>& takeStops) {
    // A host may stop the capture as soon as it reads the header.
    takeStops(stop_);
    std::optional<Ending> ending = start();
    if (!ending) ending = stop_.wait();
    cleanup();
    return *ending;
}

std::optional<Ending> Capture::start() {
    if (!tap_.createTap()) return failed(kTapFailed);
    TapFormat format;
    std::int64_t rate = 0;
    if (!tap_.readFormat(format) || !announcedRate(format.sampleRate, rate) || format.channels < 1) {
        return failed(kFormatFailed);
    }
    if (!tap_.createDevice(kDeviceName)) return failed(kDeviceFailed);

    if (!writeAll(streams_.out, headerLine(rate, format.channels))) return Ending{};
    const std::string capturing = capturingLine(rate, format.channels);
    [[maybe_unused]] ssize_t written = ::write(streams_.err, capturing.data(), capturing.size());

    writer_ = std::jthread([this](std::stop_token stopping) { writeLoop(stopping); });
    parentWatch_ = std::jthread([this](std::stop_token stopping) { watchParent(stopping); });

    auto lost = [this](std::string reason) { stop_.request(Ending::failure(std::string(kCaptureLost) + reason)); };
    if (!tap_.installReader(pending_, lost)) return failed(kReaderFailed);
    if (!tap_.startDevice()) return failed(kStartFailed);
    return std::nullopt;
}

void Capture::writeLoop(std::stop_token stopping) {
    std::string chunk;
    while (!stopping.stop_requested()) {
        if (pending_.takeAll(chunk)) {
            const bool written = writeAll(streams_.out, chunk);
            pending_.written();
            if (!written) {
                outputClosed_ = true;
                stop_.request({});
                return;
            }
            continue;
        }
        // Woken by the audio itself: a writer that looked every few milliseconds cost
        // more than the capture.
        pending_.awaitBytes(stopping);
    }
}

void Capture::watchParent(std::stop_token stopping) {
    std::unique_lock guard(watchMutex_);
    while (!stopping.stop_requested()) {
        if (parentGone(startParent_, parentId_())) {
            stop_.request({});
            return;
        }
        watchWake_.wait_for(guard, stopping, timing_.parentPoll, [] { return false; });
    }
}

void Capture::cleanup() {
    tap_.cleanup();
    const auto deadline = std::chrono::steady_clock::now() + timing_.drainLimit;
    while (!outputClosed_ && std::chrono::steady_clock::now() < deadline) {
        if (pending_.drained()) return;
        std::this_thread::sleep_for(1ms);
    }
}

}  // namespace tevoli::systemaudio

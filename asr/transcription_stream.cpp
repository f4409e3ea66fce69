#include "transcription_stream.h"

#include <cstdio>

#include "listener.h"
#include "pcm.h"

namespace tevoli::asr {

namespace {

// The host's samples: 32-bit float, 16 kHz, mono.
const AudioFormat kInputFormat{16000.0, 1, SampleType::float32};

}  // namespace

std::string AudioFormat::description() const {
    char text[96];
    std::snprintf(text, sizeof text, "%u ch, %.0f Hz, %s", channels, sampleRate,
                  sampleType == SampleType::float32 ? "Float32" : "Int16");
    return text;
}

void sleepFor(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void Collector::append(Seg seg) {
    std::lock_guard lock(mutex_);
    segs_.push_back(std::move(seg));
}

std::size_t Collector::count() const {
    std::lock_guard lock(mutex_);
    return segs_.size();
}

std::vector<Seg> Collector::drain() {
    std::lock_guard lock(mutex_);
    std::vector<Seg> taken;
    taken.swap(segs_);
    return taken;
}

void settle(const Collector& collector, const Sleep& sleep) {
    using std::chrono::milliseconds;
    constexpr int kMaxPolls = 150, kQuietPolls = 8;
    sleep(milliseconds(300));
    std::size_t last = collector.count();
    int quiet = 0;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        sleep(milliseconds(10));
        const std::size_t now = collector.count();
        if (now == last) {
            if (++quiet == kQuietPolls) return;
        } else {
            quiet = 0;
            last = now;
        }
    }
}

TranscriptionStream::Made TranscriptionStream::make(SpeechEngine& engine, const std::string& locale,
                                                    Sleep sleep) {
    const bool downloaded = engine.installAssets(locale);
    const std::optional<AudioFormat> best = engine.bestAudioFormat(locale);
    if (!best) throw HelperError::msg("no bestAvailableAudioFormat");
    // The only conversion there is: float to 16-bit at the same rate, one channel.
    const AudioFormat convertible{kInputFormat.sampleRate, 1, SampleType::int16};
    if (*best != convertible)
        throw HelperError::msg("no converter " + kInputFormat.description() + " -> " + best->description());
    auto stream = std::make_unique<TranscriptionStream>(engine.makeRecognizer(locale), *best, std::move(sleep));
    return {std::move(stream), downloaded};
}

TranscriptionStream::TranscriptionStream(std::unique_ptr<Recognizer> recognizer, AudioFormat bestFormat,
                                         Sleep sleep)
    : shared_(std::make_shared<Shared>()), sleep_(std::move(sleep)) {
    shared_->recognizer = std::move(recognizer);
    worker_ = std::thread([shared = shared_, rate = bestFormat.sampleRate] { recognise(*shared, rate); });
}

TranscriptionStream::~TranscriptionStream() {
    if (!worker_.joinable()) return;  // finished
    {
        std::lock_guard lock(shared_->mutex);
        shared_->abandoned = true;
        shared_->endOfInput = true;
    }
    shared_->queued.notify_all();
    worker_.detach();
}

std::vector<Seg> TranscriptionStream::feed(std::span<const float> samples, std::int64_t startMs) {
    Input input{toInt16(samples), startMs};
    Shared& shared = *shared_;
    {
        std::unique_lock lock(shared.mutex);
        shared.consumed.wait(lock, [&] { return shared.stopped || shared.queuedSamples < kMaxQueuedSamples; });
        if (!shared.stopped) {
            shared.queuedSamples += input.samples.size();
            shared.inputs.push_back(std::move(input));
        }
    }
    shared.queued.notify_all();
    settle(shared.collector, sleep_);
    if (auto failed = failure()) throw *failed;  // on this chunk or an earlier one
    return shared.collector.drain();
}

std::optional<HelperError> TranscriptionStream::failure() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->failure;
}

std::vector<Seg> TranscriptionStream::finish() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->endOfInput = true;
    }
    shared_->queued.notify_all();
    worker_.join();
    return shared_->collector.drain();
}

void TranscriptionStream::recognise(Shared& shared, double sampleRate) {
    std::optional<HelperError> failure;
    try {
        recogniseQueue(shared, sampleRate);
    } catch (const std::exception& error) {
        // A failing recogniser ends the results; what was collected stays.
        failure = HelperError::msg(std::string("speech recognizer stopped: ") + error.what());
    }
    {
        std::lock_guard lock(shared.mutex);
        shared.stopped = true;
        shared.failure = std::move(failure);
        shared.inputs.clear();
        shared.queuedSamples = 0;
    }
    shared.consumed.notify_all();
}

void TranscriptionStream::recogniseQueue(Shared& shared, double sampleRate) {
    Listener listener(*shared.recognizer, sampleRate, shared.abandoned,
                      [&](Seg seg) { shared.collector.append(std::move(seg)); });
    for (;;) {
        Input input;
        {
            std::unique_lock lock(shared.mutex);
            shared.queued.wait(lock, [&] { return !shared.inputs.empty() || shared.endOfInput; });
            if (shared.abandoned) return;
            if (shared.inputs.empty()) break;
            input = std::move(shared.inputs.front());
            shared.inputs.pop_front();
            shared.queuedSamples -= input.samples.size();
        }
        shared.consumed.notify_all();
        listener.take(input.samples, input.startMs);
    }
    listener.finish();
}

}  // namespace tevoli::asr

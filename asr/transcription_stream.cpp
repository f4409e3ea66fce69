#include "transcription_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pcm.h"
#include "utterance_finder.h"

namespace tevoli::asr {

namespace {

// The host's samples: 32-bit float, 16 kHz, mono.
const AudioFormat kInputFormat{16000.0, 1, SampleType::float32};
constexpr std::size_t kSlice = 16000;

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

void Timeline::add(std::int64_t firstSample, std::int64_t count, std::int64_t startMs) {
    if (count > 0) chunks_.push_back({firstSample, count, startMs});
}

const Timeline::Chunk* Timeline::holding(std::int64_t sample) const {
    auto after = std::upper_bound(chunks_.begin(), chunks_.end(), sample,
                                  [](std::int64_t s, const Chunk& c) { return s < c.firstSample; });
    if (after == chunks_.begin()) return nullptr;
    const Chunk& chunk = *std::prev(after);
    return sample < chunk.firstSample + chunk.count ? &chunk : nullptr;
}

std::optional<std::int64_t> Timeline::at(const Chunk& chunk, std::int64_t sample) const {
    // Rounded to the nearest millisecond, halves away from zero.
    const std::int64_t offset = std::llround(static_cast<double>(sample - chunk.firstSample) * 1000.0 / sampleRate_);
    std::int64_t ms = 0;
    if (__builtin_add_overflow(chunk.startMs, offset, &ms)) return std::nullopt;
    return ms;
}

std::optional<std::int64_t> Timeline::startMs(std::int64_t sample) const {
    const Chunk* chunk = holding(sample);
    if (chunk == nullptr) return std::nullopt;
    return at(*chunk, sample);
}

std::optional<std::int64_t> Timeline::endMs(std::int64_t sample) const {
    // The end belongs to the chunk of the last sample, not to a chunk after a gap.
    const Chunk* chunk = holding(sample - 1);
    if (chunk == nullptr) return std::nullopt;
    return at(*chunk, sample);
}

void Timeline::forgetBefore(std::int64_t sample) {
    const auto kept = std::find_if(chunks_.begin(), chunks_.end(),
                                   [&](const Chunk& c) { return c.firstSample + c.count > sample; });
    chunks_.erase(chunks_.begin(), kept);
}

namespace {

// The worker's side of a stream: follows runs of continuous chunks, finds the
// utterances in them and collects each one, recognised as a whole, as a segment
// on the host's timeline.
class Listener {
public:
    Listener(Recognizer& recognizer, Collector& collector, const std::atomic<bool>& abandoned, double sampleRate)
        : recognizer_(recognizer), collector_(collector), abandoned_(abandoned), sampleRate_(sampleRate),
          timeline_(sampleRate) {}

    void take(std::span<const std::int16_t> samples, std::int64_t startMs) {
        if (samples.empty()) return;
        if (!continuesRun(startMs)) startRun();
        const auto count = static_cast<std::int64_t>(samples.size());
        timeline_.add(position_, count, startMs);
        runEndMs_ = static_cast<double>(startMs) + static_cast<double>(count) * 1000.0 / sampleRate_;
        // A second at a time, so that releasing the stream never waits for a long chunk.
        for (std::size_t at = 0; at < samples.size() && !abandoned_; at += kSlice)
            listen(samples.subspan(at, std::min(kSlice, samples.size() - at)));
    }

    void finish() { endRun(); }

private:
    bool continuesRun(std::int64_t startMs) const {
        return runEndMs_ && std::abs(static_cast<double>(startMs) - *runEndMs_) <= kJumpToleranceMs;
    }

    void startRun() {
        endRun();
        recognizer_.restartDetection();
        finder_ = UtteranceFinder(position_);
        nextFrame_ = position_;
    }

    void endRun() {
        if (const auto span = finder_.endRun(position_)) recognise(*span);
        audio_.clear();
        audioStart_ = position_;
        timeline_.forgetBefore(position_);
    }

    void listen(std::span<const std::int16_t> samples) {
        audio_.insert(audio_.end(), samples.begin(), samples.end());
        position_ += static_cast<std::int64_t>(samples.size());
        for (const bool speech : recognizer_.detectSpeech(samples)) {
            if (nextFrame_ + kFrameSamples > position_) break;  // a verdict on samples not given
            const double energy = energyAt(nextFrame_);
            nextFrame_ += kFrameSamples;
            if (const auto span = finder_.frame(speech, energy)) recognise(*span);
        }
        const std::int64_t keep = std::min(finder_.keepFrom(), nextFrame_);
        audio_.erase(audio_.begin(), audio_.begin() + (keep - audioStart_));
        audioStart_ = keep;
        timeline_.forgetBefore(keep);
    }

    double energyAt(std::int64_t frame) const {
        double sum = 0;
        for (std::int64_t i = frame; i < frame + kFrameSamples; ++i) {
            const double sample = audio_[static_cast<std::size_t>(i - audioStart_)];
            sum += sample * sample;
        }
        return sum / kFrameSamples;
    }

    void recognise(UtteranceFinder::Span span) {
        if (abandoned_ || span.end <= span.begin) return;
        const auto from = audio_.begin() + (span.begin - audioStart_);
        const Recognized heard = recognizer_.recognize({from, from + (span.end - span.begin)});
        if (heard.text.empty()) return;
        const auto t0 = timeline_.startMs(span.begin + heard.firstSample);
        const auto t1 = timeline_.endMs(span.begin + std::min(heard.endSample, span.end - span.begin));
        if (!t0 || !t1) return;  // not representable on the host's timeline
        collector_.append(Seg{*t0, *t1, heard.text, std::nullopt});
    }

    Recognizer& recognizer_;
    Collector& collector_;
    const std::atomic<bool>& abandoned_;
    double sampleRate_;
    Timeline timeline_;
    std::int64_t position_ = 0;            // samples taken so far
    std::optional<double> runEndMs_;       // where a chunk continuing the run starts
    UtteranceFinder finder_{0};
    std::int64_t nextFrame_ = 0;           // first sample of the run's next frame
    std::vector<std::int16_t> audio_;      // the samples from audioStart_ to position_
    std::int64_t audioStart_ = 0;
};

}  // namespace

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
    : shared_(std::make_shared<Shared>()), bestFormat_(bestFormat), sleep_(std::move(sleep)) {
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
    return shared.collector.drain();
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
    try {
        recogniseQueue(shared, sampleRate);
    } catch (const std::exception&) {
        // A failing recogniser ends the results; what was collected stays.
    }
    {
        std::lock_guard lock(shared.mutex);
        shared.stopped = true;
        shared.inputs.clear();
        shared.queuedSamples = 0;
    }
    shared.consumed.notify_all();
}

void TranscriptionStream::recogniseQueue(Shared& shared, double sampleRate) {
    Listener listener(*shared.recognizer, shared.collector, shared.abandoned, sampleRate);
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

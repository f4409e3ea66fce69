#include "transcription_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pcm.h"

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
    : recognizer_(std::move(recognizer)), bestFormat_(bestFormat), sleep_(std::move(sleep)) {
    worker_ = std::thread([this] { recognise(); });
}

TranscriptionStream::~TranscriptionStream() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        endOfInput_ = true;
    }
    queued_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::vector<Seg> TranscriptionStream::feed(std::span<const float> samples, std::int64_t startMs) {
    Input input{toInt16(samples), startMs};
    {
        std::unique_lock lock(mutex_);
        consumed_.wait(lock, [this] { return stopped_ || queuedSamples_ < kMaxQueuedSamples; });
        if (!stopped_) {
            queuedSamples_ += input.samples.size();
            inputs_.push_back(std::move(input));
        }
    }
    queued_.notify_all();
    settle(collector_, sleep_);
    return collector_.drain();
}

std::vector<Seg> TranscriptionStream::finish() {
    {
        std::lock_guard lock(mutex_);
        endOfInput_ = true;
    }
    queued_.notify_all();
    worker_.join();
    return collector_.drain();
}

void TranscriptionStream::recognise() {
    try {
        recogniseQueue();
    } catch (const std::exception&) {
        // A failing recogniser ends the results; what was collected stays.
    }
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        inputs_.clear();
        queuedSamples_ = 0;
    }
    consumed_.notify_all();
}

void TranscriptionStream::recogniseQueue() {
    Timeline timeline(bestFormat_.sampleRate);
    std::int64_t position = 0;
    for (;;) {
        Input input;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [this] { return !inputs_.empty() || endOfInput_; });
            if (abandoned_) return;
            if (inputs_.empty()) break;
            input = std::move(inputs_.front());
            inputs_.pop_front();
            queuedSamples_ -= input.samples.size();
        }
        consumed_.notify_all();
        const auto count = static_cast<std::int64_t>(input.samples.size());
        timeline.add(position, count, input.startMs);
        position += count;
        // A second at a time, so that releasing the stream never waits for a long chunk.
        const std::span<const std::int16_t> samples(input.samples);
        for (std::size_t at = 0; at < samples.size(); at += kSlice) {
            if (abandoned_) return;
            collect(recognizer_->process(samples.subspan(at, std::min(kSlice, samples.size() - at))), timeline);
        }
    }
    collect(recognizer_->finish(), timeline);
}

void TranscriptionStream::collect(const std::vector<Utterance>& utterances, const Timeline& timeline) {
    for (const Utterance& utterance : utterances) {
        const auto t0 = timeline.startMs(utterance.firstSample);
        const auto t1 = timeline.endMs(utterance.endSample);
        if (!t0 || !t1) continue;  // not representable on the host's timeline
        collector_.append(Seg{*t0, *t1, utterance.text, std::nullopt});
    }
}

}  // namespace tevoli::asr

#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "seg.h"
#include "speech_engine.h"

namespace tevoli::asr {

using Sleep = std::function<void(std::chrono::milliseconds)>;
void sleepFor(std::chrono::milliseconds duration);

// The segments a stream has recognised and not yet handed out.
class Collector {
public:
    void append(Seg seg);
    std::size_t count() const;
    std::vector<Seg> drain();

private:
    mutable std::mutex mutex_;
    std::vector<Seg> segs_;
};

// Waits until the collector has stopped growing: 300 ms, then until its count
// stays the same for 8 polls of 10 ms, giving up after 150 polls.
void settle(const Collector& collector, const Sleep& sleep);

// Audio waiting for the recogniser beyond this (five minutes) makes "feed" wait
// for it to catch up, so a host that feeds far faster than real time cannot
// exhaust the memory.
inline constexpr std::size_t kMaxQueuedSamples = 16000 * 300;

// One live recognition stream. Fed chunks are queued for a worker thread that finds
// the utterances in them, has each recognised as a whole once it ends, and collects
// it as a Seg.
class TranscriptionStream {
public:
    struct Made {
        std::unique_ptr<TranscriptionStream> stream;
        bool downloaded = false;
    };
    static Made make(SpeechEngine& engine, const std::string& locale, Sleep sleep = sleepFor);

    // Queues the chunk, waits for recognition to settle and returns the new segments.
    std::vector<Seg> feed(std::span<const float> samples, std::int64_t startMs);
    // Recognises everything queued, closes the last utterance and returns the rest.
    std::vector<Seg> finish();
    // Why the recogniser stopped, once it has failed; `feed` then throws it, so the
    // stream never answers as if its audio were still heard.
    std::optional<HelperError> failure() const;

    TranscriptionStream(std::unique_ptr<Recognizer> recognizer, AudioFormat bestFormat, Sleep sleep);
    ~TranscriptionStream();
    TranscriptionStream(const TranscriptionStream&) = delete;
    TranscriptionStream& operator=(const TranscriptionStream&) = delete;

private:
    struct Input {
        std::vector<std::int16_t> samples;
        std::int64_t startMs = 0;
    };
    // What the stream shares with its worker thread. The worker holds it too, so a
    // stream released without finishing leaves at once, even while an utterance is
    // being recognised, and the worker frees it when it ends.
    struct Shared {
        std::unique_ptr<Recognizer> recognizer;
        Collector collector;
        std::mutex mutex;
        std::condition_variable queued;
        std::condition_variable consumed;
        std::deque<Input> inputs;
        std::size_t queuedSamples = 0;
        bool endOfInput = false;
        std::atomic<bool> abandoned = false;  // released without finishing: drop queued input
        bool stopped = false;                 // the worker has ended: nothing consumes input any more
        std::optional<HelperError> failure;   // the recogniser failed: why it stopped
    };

    static void recognise(Shared& shared, double sampleRate);
    static void recogniseQueue(Shared& shared, double sampleRate);

    std::shared_ptr<Shared> shared_;
    Sleep sleep_;
    std::thread worker_;
};

}  // namespace tevoli::asr

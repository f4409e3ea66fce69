#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "seg.h"
#include "speech_engine.h"
#include "timeline.h"
#include "utterance_finder.h"

namespace tevoli::asr {

// A chunk that starts more than this before or after the end of the previous one
// does not continue it: the host's timeline jumped, and no utterance spans the jump.
inline constexpr double kJumpToleranceMs = 50;

// Follows a stream's chunks in the order they were fed: runs of chunks that continue
// each other, the utterances found in them, each recognised as a whole once it ends
// and handed on as a segment on the host's timeline.
class Listener {
public:
    using Found = std::function<void(Seg)>;
    Listener(Recognizer& recognizer, double sampleRate, const std::atomic<bool>& abandoned, Found found);

    void take(std::span<const std::int16_t> samples, std::int64_t startMs);
    // The end of the input: the utterance in progress ends with it.
    void finish() { endRun(); }

private:
    bool continuesRun(std::int64_t startMs) const;
    void startRun();
    void endRun();
    void listen(std::span<const std::int16_t> samples);
    double energyAt(std::int64_t frame) const;
    void recognise(UtteranceFinder::Span span);

    Recognizer& recognizer_;
    double sampleRate_;
    const std::atomic<bool>& abandoned_;  // the stream was released: recognise nothing more
    Found found_;
    Timeline timeline_;
    std::int64_t position_ = 0;        // samples taken so far
    std::optional<double> runEndMs_;   // where a chunk continuing the run starts
    UtteranceFinder finder_{0};
    std::int64_t nextFrame_ = 0;       // first sample of the run's next frame
    std::vector<std::int16_t> audio_;  // the samples from audioStart_ to position_
    std::int64_t audioStart_ = 0;
};

}  // namespace tevoli::asr

#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace tevoli::asr {

// Where each queued chunk's samples lie on the host's timeline, so that sample
// positions of the recogniser map back to milliseconds; chunks need not touch.
class Timeline {
public:
    explicit Timeline(double sampleRate) : sampleRate_(sampleRate) {}
    void add(std::int64_t firstSample, std::int64_t count, std::int64_t startMs);
    // Milliseconds of a segment's start sample and of its end (one past its last sample);
    // nothing when no chunk holds the sample or the time does not fit in 64 bits.
    std::optional<std::int64_t> startMs(std::int64_t sample) const;
    std::optional<std::int64_t> endMs(std::int64_t sample) const;
    // Samples before `sample` will not be asked for again.
    void forgetBefore(std::int64_t sample);

private:
    struct Chunk {
        std::int64_t firstSample, count, startMs;
    };
    std::optional<std::int64_t> at(const Chunk& chunk, std::int64_t sample) const;
    const Chunk* holding(std::int64_t sample) const;

    double sampleRate_;
    std::vector<Chunk> chunks_;
};

}  // namespace tevoli::asr

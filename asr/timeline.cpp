#include "timeline.h"

#include <algorithm>
#include <cmath>

namespace tevoli::asr {

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

}  // namespace tevoli::asr

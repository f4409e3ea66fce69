#include "utterance_finder.h"

#include <algorithm>

namespace tevoli::asr {

namespace {

// In frames of 10 ms.
constexpr std::int64_t kPreRoll = 20;   // kept before detected speech: the detector confirms it late
constexpr std::int64_t kTail = 20;      // of a closing pause kept in the utterance
constexpr std::int64_t kPause = 40;     // of silence that ends an utterance
constexpr std::int64_t kLong = 1000;    // from here on any silent frame ends the utterance
constexpr std::int64_t kLongest = 1200; // cut at the quietest moment since kCutFrom
constexpr std::int64_t kCutFrom = 800;
constexpr std::int64_t kQuietFrames = 5;  // the span whose energy makes a moment quiet
constexpr std::int64_t kQuietLevelFrames = 300;  // the stream's quiet level: its quietest frame in 3 s
constexpr double kAboveQuiet = 4;                 // 6 dB: louder than that is more than the room's noise
constexpr std::size_t kHangover = 5;              // how long the detector's verdict outlasts speech

}  // namespace

UtteranceFinder::UtteranceFinder(std::int64_t runStart) : runStart_(runStart), lastEnd_(runStart) {}

std::optional<UtteranceFinder::Span> UtteranceFinder::frame(bool speech, double energy) {
    const std::int64_t frame = frames_++;
    energies_.push_back(energy);
    const bool loud = louderThanQuiet(frame, energy);
    speech = speech && loud;
    std::optional<Span> done;
    if (!inUtterance_) {
        if (speech) {
            inUtterance_ = true;
            begin_ = std::max(lastEnd_, frameStart(frame - kPreRoll));
            silentFrames_ = 0;
        }
    } else {
        silentFrames_ = speech ? 0 : silentFrames_ + 1;
        const std::int64_t length = frameStart(frame + 1) - begin_;
        const std::int64_t pause = length >= kLong * kFrameSamples ? 1 : kPause;
        if (silentFrames_ >= pause) {
            done = close(frameStart(frame + 1 - silentFrames_ + std::min(silentFrames_, kTail)));
        } else if (length >= kLongest * kFrameSamples) {
            const std::int64_t cut = quietestCut();
            done = Span{begin_, cut};
            begin_ = lastEnd_ = cut;
        }
    }
    forgetEnergiesBefore(keepFrom());
    return done;
}

std::optional<UtteranceFinder::Span> UtteranceFinder::endRun(std::int64_t runEnd) {
    if (!inUtterance_) return std::nullopt;
    if (silentFrames_ == 0) return close(runEnd);
    return close(std::min(runEnd, frameStart(frames_ - silentFrames_ + std::min(silentFrames_, kTail))));
}

std::int64_t UtteranceFinder::keepFrom() const {
    if (inUtterance_) return begin_;
    return std::max(lastEnd_, frameStart(frames_ - kPreRoll));
}

// The detector also takes a change in the room's noise for speech, as when a recording
// ends and the room goes on: such a stretch would lengthen an utterance with noise that
// the whole-utterance normalisation then averages in, or make one of its own. A verdict
// of speech stands only if a frame it covers is clearly louder than the stream's quiet level.
bool UtteranceFinder::louderThanQuiet(std::int64_t frame, double energy) {
    while (!quietest_.empty() && quietest_.back().second >= energy) quietest_.pop_back();
    quietest_.emplace_back(frame, energy);
    if (quietest_.front().first <= frame - kQuietLevelFrames) quietest_.pop_front();
    recent_.push_back(energy);
    if (recent_.size() > kHangover) recent_.pop_front();
    return *std::max_element(recent_.begin(), recent_.end()) > kAboveQuiet * quietest_.front().second;
}

// The middle of the quietest few frames from kCutFrom into the utterance on.
std::int64_t UtteranceFinder::quietestCut() const {
    const std::int64_t from = (begin_ - runStart_) / kFrameSamples + kCutFrom;
    std::int64_t best = from;
    double bestEnergy = -1;
    for (std::int64_t start = from; start + kQuietFrames <= frames_; ++start) {
        double energy = 0;
        for (std::int64_t f = start; f < start + kQuietFrames; ++f) energy += energies_[f - firstEnergyFrame_];
        if (bestEnergy < 0 || energy < bestEnergy) {
            bestEnergy = energy;
            best = start;
        }
    }
    return frameStart(best + kQuietFrames / 2);
}

UtteranceFinder::Span UtteranceFinder::close(std::int64_t end) {
    inUtterance_ = false;
    lastEnd_ = end;
    return {begin_, end};
}

void UtteranceFinder::forgetEnergiesBefore(std::int64_t sample) {
    while (!energies_.empty() && frameStart(firstEnergyFrame_) < sample) {
        energies_.pop_front();
        ++firstEnergyFrame_;
    }
}

}  // namespace tevoli::asr

#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace tevoli::asr {

// The recogniser's voice-activity verdicts come per 10 ms frame of 16 kHz audio.
inline constexpr std::int64_t kFrameSamples = 160;

// Where utterances begin and end in one continuous run of audio, from the
// voice-activity verdict and the energy of each frame. An utterance starts a
// little before speech is detected and ends after a pause; one that has run for
// about 10 s ends at its next quiet moment, at the latest at the quietest moment
// of its last seconds, so that a speaker who never stops still gets segments.
// Detected speech no louder than the run's quiet level is noise.
// Positions are sample numbers of the stream.
class UtteranceFinder {
public:
    struct Span {
        std::int64_t begin = 0;
        std::int64_t end = 0;
        bool operator==(const Span&) const = default;
    };

    explicit UtteranceFinder(std::int64_t runStart);
    // The run's next frame; the utterance it completes, if any.
    std::optional<Span> frame(bool speech, double energy);
    // The run ends at sample `runEnd`, and with it the utterance in progress.
    std::optional<Span> endRun(std::int64_t runEnd);
    // The first sample that an utterance still to come may include.
    std::int64_t keepFrom() const;

private:
    std::int64_t frameStart(std::int64_t frame) const { return runStart_ + frame * kFrameSamples; }
    bool louderThanQuiet(std::int64_t frame, double energy);
    std::int64_t quietestCut() const;
    Span close(std::int64_t end);
    void forgetEnergiesBefore(std::int64_t sample);

    std::int64_t runStart_;
    std::int64_t frames_ = 0;         // frames seen so far in the run
    std::int64_t lastEnd_;            // end of the last utterance, or the start of the run
    bool inUtterance_ = false;
    std::int64_t begin_ = 0;          // of the utterance in progress
    std::int64_t silentFrames_ = 0;   // since the utterance's last speech
    std::deque<double> energies_;     // of the frames from keepFrom() on
    std::int64_t firstEnergyFrame_ = 0;
    std::deque<std::pair<std::int64_t, double>> quietest_;  // frame and energy: the last frames' rising minima
    std::deque<double> recent_;       // energies of the frames the detector's verdict covers
};

}  // namespace tevoli::asr

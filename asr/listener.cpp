#include "listener.h"

#include <algorithm>
#include <cmath>

namespace tevoli::asr {

namespace {

// Long chunks go to the recogniser a second at a time, so that a released stream
// stops soon.
constexpr std::size_t kSlice = 16000;

}  // namespace

Listener::Listener(Recognizer& recognizer, double sampleRate, const std::atomic<bool>& abandoned, Found found)
    : recognizer_(recognizer), sampleRate_(sampleRate), abandoned_(abandoned), found_(std::move(found)),
      timeline_(sampleRate) {}

void Listener::take(std::span<const std::int16_t> samples, std::int64_t startMs) {
    if (samples.empty()) return;
    if (!continuesRun(startMs)) startRun();
    const auto count = static_cast<std::int64_t>(samples.size());
    timeline_.add(position_, count, startMs);
    runEndMs_ = static_cast<double>(startMs) + static_cast<double>(count) * 1000.0 / sampleRate_;
    for (std::size_t at = 0; at < samples.size() && !abandoned_; at += kSlice)
        listen(samples.subspan(at, std::min(kSlice, samples.size() - at)));
}

bool Listener::continuesRun(std::int64_t startMs) const {
    return runEndMs_ && std::abs(static_cast<double>(startMs) - *runEndMs_) <= kJumpToleranceMs;
}

void Listener::startRun() {
    endRun();
    recognizer_.restartDetection();
    finder_ = UtteranceFinder(position_);
    nextFrame_ = position_;
}

void Listener::endRun() {
    if (const auto span = finder_.endRun(position_)) recognise(*span);
    audio_.clear();
    audioStart_ = position_;
    timeline_.forgetBefore(position_);
}

void Listener::listen(std::span<const std::int16_t> samples) {
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

double Listener::energyAt(std::int64_t frame) const {
    double sum = 0;
    for (std::int64_t i = frame; i < frame + kFrameSamples; ++i) {
        const double sample = audio_[static_cast<std::size_t>(i - audioStart_)];
        sum += sample * sample;
    }
    return sum / kFrameSamples;
}

void Listener::recognise(UtteranceFinder::Span span) {
    if (abandoned_ || span.end <= span.begin) return;
    const auto from = audio_.begin() + (span.begin - audioStart_);
    const Recognized heard = recognizer_.recognize({from, from + (span.end - span.begin)});
    if (heard.text.empty()) return;
    const auto t0 = timeline_.startMs(span.begin + heard.firstSample);
    const auto t1 = timeline_.endMs(span.begin + std::min(heard.endSample, span.end - span.begin));
    if (!t0 || !t1) return;  // not representable on the host's timeline
    found_(Seg{*t0, *t1, heard.text, std::nullopt});
}

}  // namespace tevoli::asr

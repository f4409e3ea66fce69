#pragma once
// A deterministic speech engine: its detector hears speech in loud samples and its
// decoder names an utterance after the number of loud samples in it.
#include <algorithm>
#include <cstdlib>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "speech_engine.h"
#include "utterance_finder.h"

namespace tevoli::asr {

class FakeRecognizer : public Recognizer {
public:
    // Breaks on the chunk after the first `working` ones; takes none before `gate` is ready, if set.
    FakeRecognizer(int working, std::shared_future<void> gate) : working_(working), gate_(std::move(gate)) {}

    // A frame is speech when one of its samples is loud.
    std::vector<bool> detectSpeech(std::span<const std::int16_t> samples) override {
        if (gate_.valid()) gate_.wait();
        if (working_-- == 0) throw std::runtime_error("recogniser broke");
        pending_.insert(pending_.end(), samples.begin(), samples.end());
        std::vector<bool> verdicts;
        std::size_t at = 0;
        for (; at + kFrameSamples <= pending_.size(); at += kFrameSamples)
            verdicts.push_back(std::any_of(pending_.begin() + at, pending_.begin() + at + kFrameSamples, loud));
        pending_.erase(pending_.begin(), pending_.begin() + at);
        return verdicts;
    }

    void restartDetection() override { pending_.clear(); }

    // Hears the loud samples as words named after their number.
    Recognized recognize(std::span<const std::int16_t> utterance) override {
        const auto first = std::find_if(utterance.begin(), utterance.end(), loud);
        if (first == utterance.end()) return {};
        const auto last = std::find_if(utterance.rbegin(), utterance.rend(), loud).base();
        return {"words " + std::to_string(std::count_if(first, last, loud)), first - utterance.begin(),
                last - utterance.begin()};
    }

private:
    static bool loud(std::int16_t sample) { return std::abs(sample) > 1000; }

    int working_;
    std::shared_future<void> gate_;
    std::vector<std::int16_t> pending_;
};

class FakeSpeechEngine : public SpeechEngine {
public:
    bool available = true;
    std::set<std::string> supported = {"en_US"};
    std::string current = "de_DE";
    bool downloads = false;
    std::optional<AudioFormat> best = AudioFormat{16000, 1, SampleType::int16};
    int recognizerBreaksAfter = -1;  // chunks; never when negative
    bool cannotMakeRecognizer = false;
    std::shared_future<void> gate;

    std::vector<std::string> localesAsked;
    int recognizersMade = 0;

    bool isAvailable() override { return available; }
    std::optional<std::string> supportedLocale(const std::string& identifier) override {
        localesAsked.push_back(identifier);
        if (supported.contains(identifier)) return identifier;
        return std::nullopt;
    }
    std::string currentLocaleIdentifier() override { return current; }
    bool installAssets(const std::string&) override { return downloads; }
    std::optional<AudioFormat> bestAudioFormat(const std::string&) override { return best; }
    std::unique_ptr<Recognizer> makeRecognizer(const std::string&) override {
        if (cannotMakeRecognizer) throw std::runtime_error("model missing");
        ++recognizersMade;
        return std::make_unique<FakeRecognizer>(recognizerBreaksAfter, gate);
    }
};

// Float samples: `loud` samples of speech after `quiet` samples of silence. Speech is
// never steady: its 10 ms frames alternate between two loudnesses.
inline std::vector<float> speech(std::size_t quiet, std::size_t loud) {
    std::vector<float> samples(quiet + loud, 0.0f);
    for (std::size_t i = 0; i < loud; ++i) samples[quiet + i] = i / kFrameSamples % 2 == 0 ? 0.5f : 0.2f;
    return samples;
}

// Standard Base64 with padding, as the host writes `pcm`.
inline std::string base64(std::string_view bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j)
            group = group << 8 | (i + j < bytes.size() ? static_cast<unsigned char>(bytes[i + j]) : 0);
        const std::size_t chars = std::min<std::size_t>(4, bytes.size() - i + 1);
        for (std::size_t j = 0; j < 4; ++j) out += j < chars ? alphabet[group >> (18 - 6 * j) & 63] : '=';
    }
    return out;
}

}  // namespace tevoli::asr

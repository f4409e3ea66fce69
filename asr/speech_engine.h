#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tevoli::asr {

enum class SampleType { float32, int16 };

struct AudioFormat {
    double sampleRate = 0;
    unsigned channels = 0;
    SampleType sampleType = SampleType::float32;

    std::string description() const;
    bool operator==(const AudioFormat&) const = default;
};

// One finished utterance: its text and the samples it spans, counted from the
// first sample the recogniser was given.
struct Utterance {
    std::int64_t firstSample = 0;
    std::int64_t endSample = 0;
    std::string text;
};

// A recogniser for one continuous stream of samples in the engine's best format.
// It finds the utterances itself (voice activity) and reports each once it ends.
class Recognizer {
public:
    virtual ~Recognizer() = default;
    virtual std::vector<Utterance> process(std::span<const std::int16_t> samples) = 0;
    // Closes the utterance in progress, if any; nothing is processed afterwards.
    virtual std::vector<Utterance> finish() = 0;
};

// The platform's speech recognition, in the terms the transcription server needs.
// Failures are thrown as std::exception with the platform's own description.
class SpeechEngine {
public:
    virtual ~SpeechEngine() = default;
    virtual bool isAvailable() = 0;
    // The supported locale equivalent to `identifier`, in the engine's own spelling.
    virtual std::optional<std::string> supportedLocale(const std::string& identifier) = 0;
    virtual std::string currentLocaleIdentifier() = 0;
    // Makes sure the recognition assets for `locale` are installed; true when they
    // had to be fetched on this call.
    virtual bool installAssets(const std::string& locale) = 0;
    virtual std::optional<AudioFormat> bestAudioFormat(const std::string& locale) = 0;
    virtual std::unique_ptr<Recognizer> makeRecognizer(const std::string& locale) = 0;
};

}  // namespace tevoli::asr

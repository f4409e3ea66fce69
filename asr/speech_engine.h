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

// What the recogniser heard in one utterance: its words, and the samples from the
// start of the first word to the end of the last, counted from the utterance's
// first sample. No words: empty text.
struct Recognized {
    std::string text;
    std::int64_t firstSample = 0;
    std::int64_t endSample = 0;
};

// A recogniser for one stream of samples in the engine's best format. Its
// voice-activity detector follows a continuous run of audio; its decoder takes
// one utterance at a time, as a whole, so that it can normalise over all of it.
class Recognizer {
public:
    virtual ~Recognizer() = default;
    // Whether each whole 10 ms frame of the run is speech, in order; samples short of
    // a frame are kept and lead the next call's first frame.
    virtual std::vector<bool> detectSpeech(std::span<const std::int16_t> samples) = 0;
    // The next samples start a new run: they do not continue the previous ones.
    virtual void restartDetection() = 0;
    virtual Recognized recognize(std::span<const std::int16_t> utterance) = 0;
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

#include "linux_speech.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace tevoli::asr {

namespace {

const std::string kModelDir = TEVOLI_POCKETSPHINX_MODELDIR;
const std::string kHmm = kModelDir + "/en-us/en-us";
const std::string kLanguageModel = kModelDir + "/en-us/en-us.lm.bin";
const std::string kDictionary = kModelDir + "/en-us/cmudict-en-us.dict";

constexpr double kSampleRate = 16000;
constexpr std::int64_t kSamplesPerFrame = 160;  // the decoder's 10 ms frames
constexpr std::size_t kBlock = 160;             // fed a frame at a time, so utterance edges are exact

// The library logs to standard error by default, which the server must keep silent.
// Logging stays off for good: a "-logfn" option would reopen the shared log file
// under the feet of other streams' worker threads.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

struct ConfigFree {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};
struct DecoderFree {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};
struct SegFree {
    void operator()(ps_seg_t* seg) const { ps_seg_free(seg); }
};

bool isFiller(const char* word) { return word[0] == '<' || word[0] == '[' || word[0] == '+'; }

class PocketSphinxRecognizer : public Recognizer {
public:
    PocketSphinxRecognizer() {
        silenceLibraryLog();
        std::unique_ptr<cmd_ln_t, ConfigFree> config(
            cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", kHmm.c_str(), "-lm", kLanguageModel.c_str(), "-dict",
                        kDictionary.c_str(), nullptr));
        if (!config) throw std::runtime_error("PocketSphinx rejected its configuration");
        decoder_.reset(ps_init(config.get()));
        if (!decoder_) throw std::runtime_error("PocketSphinx could not load the model in " + kModelDir);
        if (ps_start_utt(decoder_.get()) < 0) throw std::runtime_error("PocketSphinx could not start an utterance");
    }

    std::vector<Utterance> process(std::span<const std::int16_t> samples) override {
        std::vector<Utterance> done;
        while (!samples.empty()) {
            const std::size_t n = std::min(kBlock, samples.size());
            if (ps_process_raw(decoder_.get(), samples.data(), n, FALSE, FALSE) < 0)
                throw std::runtime_error("PocketSphinx failed to process audio");
            samples = samples.subspan(n);
            fed_ += static_cast<std::int64_t>(n);
            const bool inSpeech = ps_get_in_speech(decoder_.get());
            if (inSpeech) inUtterance_ = true;
            if (!inSpeech && inUtterance_) {
                endUtterance(done);
                if (ps_start_utt(decoder_.get()) < 0)
                    throw std::runtime_error("PocketSphinx could not start an utterance");
            }
        }
        return done;
    }

    std::vector<Utterance> finish() override {
        std::vector<Utterance> done;
        endUtterance(done);
        return done;
    }

private:
    // Ends the decoder's utterance and reports it when it held words. Word frames
    // count from the decoder's first sample, silence dropped by its voice-activity
    // detection included, so they place the utterance in the stream directly.
    void endUtterance(std::vector<Utterance>& done) {
        const bool hadSpeech = inUtterance_;
        inUtterance_ = false;
        if (ps_end_utt(decoder_.get()) < 0) throw std::runtime_error("PocketSphinx could not end an utterance");
        if (!hadSpeech) return;
        const char* hyp = ps_get_hyp(decoder_.get(), nullptr);
        if (hyp == nullptr || hyp[0] == '\0') return;
        int first = -1, last = -1;
        for (std::unique_ptr<ps_seg_t, SegFree> seg(ps_seg_iter(decoder_.get())); seg;) {
            if (!isFiller(ps_seg_word(seg.get()))) {
                int start = 0, end = 0;
                ps_seg_frames(seg.get(), &start, &end);
                if (first < 0) first = start;
                last = end;
            }
            seg.reset(ps_seg_next(seg.release()));
        }
        if (first < 0) return;
        done.push_back({std::int64_t{first} * kSamplesPerFrame,
                        std::min(fed_, (std::int64_t{last} + 1) * kSamplesPerFrame), hyp});
    }

    std::unique_ptr<ps_decoder_t, DecoderFree> decoder_;
    std::int64_t fed_ = 0;  // samples given to the decoder so far
    bool inUtterance_ = false;
};

class PocketSphinxEngine : public SpeechEngine {
public:
    bool isAvailable() override {
        for (const std::string& path : {kHmm + "/mdef", kLanguageModel, kDictionary})
            if (::access(path.c_str(), R_OK) != 0) return false;
        return true;
    }

    // The model is US English; any English identifier ("en", "en_GB", "en-US") maps to it.
    std::optional<std::string> supportedLocale(const std::string& identifier) override {
        std::string language = identifier.substr(0, identifier.find_first_of("_-.@"));
        std::transform(language.begin(), language.end(), language.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (language == "en") return "en_US";
        return std::nullopt;
    }

    std::string currentLocaleIdentifier() override {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && value[0] != '\0') {
                std::string locale = value;
                return locale.substr(0, locale.find_first_of(".@"));
            }
        }
        return "C";
    }

    bool installAssets(const std::string&) override { return false; }  // the model comes with the package

    std::optional<AudioFormat> bestAudioFormat(const std::string&) override {
        return AudioFormat{kSampleRate, 1, SampleType::int16};
    }

    std::unique_ptr<Recognizer> makeRecognizer(const std::string&) override {
        return std::make_unique<PocketSphinxRecognizer>();
    }
};

}  // namespace

std::unique_ptr<SpeechEngine> makePocketSphinxEngine() { return std::make_unique<PocketSphinxEngine>(); }

}  // namespace tevoli::asr

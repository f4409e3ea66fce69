#include "linux_speech.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
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
constexpr std::size_t kFrame = 160;  // 10 ms: one voice-activity verdict, one decoder frame

// The decoder sees one utterance at a time, found by the detector: it keeps every
// frame, so that word frames are sample positions in the utterance. The detector
// turns to silence after 50 ms of it: how long a pause ends an utterance is the
// stream's rule. Otherwise PocketSphinx's defaults, the best on the development set.
const PocketSphinxOptions kDefaults{
    .decoder = {{"-hmm", kHmm}, {"-lm", kLanguageModel}, {"-dict", kDictionary}, {"-remove_silence", "no"}},
    .detector = {{"-vad_postspeech", "5"}},
};

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
struct FrontEndFree {
    void operator()(fe_t* fe) const { fe_free(fe); }
};
struct SegFree {
    void operator()(ps_seg_t* seg) const { ps_seg_free(seg); }
};
using Config = std::unique_ptr<cmd_ln_t, ConfigFree>;

// The library keeps pointers into the argument strings, so they live as long as the
// configuration made from them.
class Arguments {
public:
    Arguments(const std::map<std::string, std::string>& defaults, const std::map<std::string, std::string>& overrides) {
        std::map<std::string, std::string> merged = overrides;
        merged.insert(defaults.begin(), defaults.end());
        strings_.push_back("tevoli-apple-asr");
        for (const auto& [name, value] : merged) {
            strings_.push_back(name);
            strings_.push_back(value);
        }
        for (std::string& s : strings_) pointers_.push_back(s.data());
    }

    Config parse(const arg_t* definitions) {
        Config config(cmd_ln_parse_r(nullptr, definitions, static_cast<int32>(pointers_.size()), pointers_.data(), TRUE));
        if (!config) throw std::runtime_error("PocketSphinx rejected its configuration");
        return config;
    }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

bool isFiller(const char* word) { return word[0] == '<' || word[0] == '[' || word[0] == '+'; }

class PocketSphinxRecognizer : public Recognizer {
public:
    explicit PocketSphinxRecognizer(const PocketSphinxOptions& options)
        : decoderArguments_(kDefaults.decoder, options.decoder), detectorArguments_(kDefaults.detector, options.detector) {
        silenceLibraryLog();
        Config config = decoderArguments_.parse(ps_args());
        decoder_.reset(ps_init(config.get()));
        if (!decoder_) throw std::runtime_error("PocketSphinx could not load the model in " + kModelDir);
        restartDetection();
    }

    std::vector<bool> detectSpeech(std::span<const std::int16_t> samples) override {
        pending_.insert(pending_.end(), samples.begin(), samples.end());
        std::vector<bool> verdicts;
        std::size_t at = 0;
        for (; pending_.size() - at >= kFrame; at += kFrame) {
            const int16* frame = pending_.data() + at;
            std::size_t left = kFrame;
            // Frames confirmed as speech come out at once, more than one; they are not used.
            auto frames = static_cast<int32>(cepstra_.size());
            int32 index = 0;
            if (fe_process_frames(detector_.get(), &frame, &left, cepstra_.data(), &frames, &index) < 0 || left > 0)
                throw std::runtime_error("PocketSphinx failed to process audio");
            verdicts.push_back(fe_get_vad_state(detector_.get()) != 0);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
        return verdicts;
    }

    void restartDetection() override {
        Config config = detectorArguments_.parse(fe_get_args());
        detector_.reset(fe_init_auto_r(config.get()));  // which the front end retains
        if (!detector_) throw std::runtime_error("PocketSphinx could not start its voice-activity detector");
        if (fe_start_utt(detector_.get()) < 0) throw std::runtime_error("PocketSphinx could not start an utterance");
        const auto width = static_cast<std::size_t>(fe_get_output_size(detector_.get()));
        cepstrumStore_.assign(width * kFlushedFrames, 0);
        cepstra_.clear();
        for (std::size_t i = 0; i < kFlushedFrames; ++i) cepstra_.push_back(cepstrumStore_.data() + i * width);
        pending_.clear();
    }

    // Whole: the decoder normalises the cepstra over the utterance, as in batch mode.
    Recognized recognize(std::span<const std::int16_t> utterance) override {
        ps_decoder_t* decoder = decoder_.get();
        if (ps_start_stream(decoder) < 0 || ps_start_utt(decoder) < 0)
            throw std::runtime_error("PocketSphinx could not start an utterance");
        if (ps_process_raw(decoder, utterance.data(), utterance.size(), FALSE, TRUE) < 0)
            throw std::runtime_error("PocketSphinx failed to process audio");
        if (ps_end_utt(decoder) < 0) throw std::runtime_error("PocketSphinx could not end an utterance");
        const char* hyp = ps_get_hyp(decoder, nullptr);
        if (hyp == nullptr || hyp[0] == '\0') return {};
        int first = -1, last = -1;
        for (std::unique_ptr<ps_seg_t, SegFree> seg(ps_seg_iter(decoder)); seg;) {
            if (!isFiller(ps_seg_word(seg.get()))) {
                int start = 0, end = 0;
                ps_seg_frames(seg.get(), &start, &end);
                if (first < 0) first = start;
                last = end;
            }
            seg.reset(ps_seg_next(seg.release()));
        }
        if (first < 0) return {};
        const auto frame = static_cast<std::int64_t>(kFrame);
        return {hyp, first * frame, (last + 1) * frame};
    }

private:
    static constexpr std::size_t kFlushedFrames = 64;  // more than the detector holds back

    Arguments decoderArguments_;
    Arguments detectorArguments_;
    std::unique_ptr<ps_decoder_t, DecoderFree> decoder_;
    std::unique_ptr<fe_t, FrontEndFree> detector_;
    std::vector<mfcc_t> cepstrumStore_;
    std::vector<mfcc_t*> cepstra_;
    std::vector<std::int16_t> pending_;  // short of a frame
};

class PocketSphinxEngine : public SpeechEngine {
public:
    explicit PocketSphinxEngine(PocketSphinxOptions options) : options_(std::move(options)) {}

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
        return std::make_unique<PocketSphinxRecognizer>(options_);
    }

private:
    PocketSphinxOptions options_;
};

}  // namespace

std::unique_ptr<SpeechEngine> makePocketSphinxEngine(PocketSphinxOptions options) {
    return std::make_unique<PocketSphinxEngine>(std::move(options));
}

}  // namespace tevoli::asr

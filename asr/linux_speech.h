#pragma once
#include <map>
#include <memory>
#include <string>

#include "speech_engine.h"

namespace tevoli::asr {

// PocketSphinx options in its own command-line form ({"-lw", "10"}) that override the
// server's own settings, for the decoder and for the voice-activity detector; tuning
// runs use them, the server none.
struct PocketSphinxOptions {
    std::map<std::string, std::string> decoder;
    std::map<std::string, std::string> detector;
};

// Speech recognition with PocketSphinx and the installed en-US model.
std::unique_ptr<SpeechEngine> makePocketSphinxEngine(PocketSphinxOptions options = {});

}  // namespace tevoli::asr

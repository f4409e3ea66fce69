#pragma once
#include <memory>

#include "speech_engine.h"

namespace tevoli::asr {

// Speech recognition with PocketSphinx and the installed en-US model.
std::unique_ptr<SpeechEngine> makePocketSphinxEngine();

}  // namespace tevoli::asr

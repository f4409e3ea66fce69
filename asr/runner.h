#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "asr_protocol.h"
#include "json_lines_server.h"
#include "speech_engine.h"
#include "transcription_stream.h"

namespace tevoli::asr {

// Each open stream holds a recogniser with its own copy of the speech model
// (about 90 MB), so their number is bounded.
inline constexpr std::size_t kMaxOpenStreams = 8;

// Turns each request into exactly one reply and keeps the open streams by name.
// Requests arrive one at a time, so the table needs no lock.
class Runner {
public:
    explicit Runner(SpeechEngine& engine, Sleep sleep = sleepFor);
    Reply handle(const Request& request);
    // The transcription server's part in the shared JSON-lines loop.
    LineServer lineServer();

private:
    Reply status(const Request& request);
    Reply begin(const Request& request);
    Reply feed(const Request& request);
    Reply finish(const Request& request);
    std::optional<std::string> resolveLocale(const std::optional<std::string>& requested);

    SpeechEngine& engine_;
    Sleep sleep_;
    std::map<std::string, std::unique_ptr<TranscriptionStream>> streams;
};

}  // namespace tevoli::asr

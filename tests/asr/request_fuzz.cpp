// Request lines of any bytes through the decoder and the dispatcher, a few lines
// per input so that sequences such as begin, feed, finish are reached.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fake_speech_engine.h"
#include "protocol.h"
#include "runner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tevoli::asr;
    FakeSpeechEngine engine;
    Runner runner(engine, [](std::chrono::milliseconds) {});
    // Open streams up front, so feed and finish lines reach a stream.
    for (const char* name : {"default", ""}) {
        Request begin;
        begin.op = "begin";
        begin.stream = name;
        runner.handle(begin);
    }
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (int lines = 0; lines < 8 && !rest.empty(); ++lines) {
        const std::size_t end = rest.find('\n');
        const std::string text = trimRequestLine(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (text.empty()) continue;
        const auto request = decodeRequest(text);
        const Reply reply = request ? runner.handle(*request) : Reply::failure("bad request");
        if (encodeReply(reply).empty()) __builtin_trap();
    }
    return 0;
}

// Request lines of any bytes through the decoder and the dispatcher, a few lines
// per input so that sequences such as begin, feed, finish are reached; then the
// same bytes as audio at an offset taken from them, through feed and finish.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fake_speech_engine.h"
#include "asr_protocol.h"
#include "utf8.h"
#include "runner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tevoli::asr;
    FakeSpeechEngine engine;
    Runner runner(engine, [](std::chrono::milliseconds) {});
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    auto handle = [&](const Request& request) {
        if (encodeReply(runner.handle(request)).empty()) __builtin_trap();
    };
    std::string_view rest = input;
    for (int lines = 0; lines < 8 && !rest.empty(); ++lines) {
        const std::size_t end = rest.find('\n');
        const std::string text = tevoli::trimmedUtf8(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (text.empty()) continue;
        if (const auto request = decodeRequest(text)) handle(*request);
    }
    if (size < 8) return 0;
    Request request;
    request.op = "begin";
    request.stream = "audio";
    handle(request);
    request.op = "feed";
    request.offset_ms.emplace();
    std::memcpy(&*request.offset_ms, data, 8);
    request.pcm = base64(input.substr(8));
    handle(request);
    request.op = "finish";
    handle(request);
    return 0;
}

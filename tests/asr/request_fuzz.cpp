// Request lines of any bytes through both servers' readers, dispatchers and encoders,
// a few lines per input so that sequences such as begin, feed, finish are reached:
// each reply must stay one JSON line. Then the same bytes as audio at an offset taken
// from them, through feed and finish, and as a model server's answers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "apple_llm_helper.h"
#include "asr_protocol.h"
#include "fake_speech_engine.h"
#include "openai_api.h"
#include "runner.h"
#include "utf8.h"

namespace {

class EchoModel : public tevoli::llm::ModelService {
public:
    tevoli::llm::ModelState availability() override { return tevoli::llm::ModelState::modelNotReady; }
    tevoli::llm::Generation generate(const std::string& system, const std::string& user) override {
        return {tevoli::llm::Generation::Kind::answered, system + user};
    }
};

void checkReply(const std::string& json) {
    if (json.empty() || json.front() != '{' || json.back() != '}' || json.find('\n') != std::string::npos)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tevoli::asr;
    FakeSpeechEngine engine;
    Runner runner(engine, [](std::chrono::milliseconds) {});
    EchoModel model;
    tevoli::llm::AppleLLMHelper helper(model);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view rest = input;
    for (int lines = 0; lines < 8 && !rest.empty(); ++lines) {
        const std::size_t end = rest.find('\n');
        const std::string text = tevoli::trimmedUtf8(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (text.empty()) continue;
        checkReply(runner.lineServer().answer(text));
        checkReply(helper.lineServer().answer(text));
    }
    const std::string bytes(input);
    tevoli::llm::generationFrom(tevoli::llm::HttpResult{true, false, 200, bytes, {}});
    tevoli::llm::listingFrom(tevoli::llm::HttpResult{true, false, 200, bytes, {}});
    if (size < 8) return 0;
    Request request;
    request.op = "begin";
    request.stream = "audio";
    checkReply(encodeReply(runner.handle(request)));
    request.op = "feed";
    request.offset_ms.emplace();
    std::memcpy(&*request.offset_ms, data, 8);
    request.pcm = base64(input.substr(8));
    checkReply(encodeReply(runner.handle(request)));
    request.op = "finish";
    checkReply(encodeReply(runner.handle(request)));
    return 0;
}

// Any bytes as a few request lines to both servers, each reply one JSON line; then as
// audio at an offset taken from them, and as a model server's answers.
#include <cstring>

#include "apple_llm_helper.h"
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
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string_view rest = input;
    for (int lines = 0; lines < 8 && !rest.empty(); ++lines) {
        const std::size_t end = rest.find('\n');
        const std::string text = tevoli::trimmedUtf8(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (text.empty()) continue;
        checkReply(runner.lineServer().answer(text));
        checkReply(helper.lineServer().answer(text));
    }
    tevoli::llm::generationFrom(tevoli::llm::HttpResult{true, false, 200, input, {}});
    tevoli::llm::listingFrom(tevoli::llm::HttpResult{true, false, 200, input, {}});
    if (size < 8) return 0;
    std::int64_t offset = 0;
    std::memcpy(&offset, data, 8);
    const Request begin{"begin", "audio", {}, {}, {}}, finish{"finish", "audio", {}, {}, {}};
    const Request feed{"feed", "audio", {}, base64(input.substr(8)), offset};
    for (const Request& request : {begin, feed, finish}) checkReply(encodeReply(runner.handle(request)));
    return 0;
}

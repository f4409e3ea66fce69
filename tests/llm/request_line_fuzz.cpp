// Feeds arbitrary bytes as request lines through the whole reply path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "apple_llm_helper.h"
#include "openai_api.h"
#include "utf8.h"

namespace {

class EchoModel : public tevoli::llm::ModelService {
public:
    tevoli::llm::ModelState availability() override { return tevoli::llm::ModelState::modelNotReady; }
    tevoli::llm::Generation generate(const std::string& system, const std::string& user) override {
        return {tevoli::llm::Generation::Kind::answered, system + user};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    EchoModel model;
    tevoli::llm::AppleLLMHelper helper(model);
    const std::string json = helper.lineServer().answer(tevoli::trimmedUtf8(bytes));
    if (json.empty() || json.front() != '{' || json.back() != '}' || json.find('\n') != std::string::npos) {
        __builtin_trap();  // a reply must stay one JSON line
    }
    // The model server's answers are read by the same decoder family.
    tevoli::llm::generationFrom(tevoli::llm::HttpResult{true, false, 200, bytes, {}});
    tevoli::llm::listingFrom(tevoli::llm::HttpResult{true, false, 200, bytes, {}});
    return 0;
}

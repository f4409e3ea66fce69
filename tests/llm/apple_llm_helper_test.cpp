#include "apple_llm_helper.h"

#include <gtest/gtest.h>

namespace tevoli::llm {
namespace {

// A model in the state the test set, answering with the generation it set.
class FakeModel : public ModelService {
public:
    ModelState state = ModelState::available;
    Generation generation;
    std::vector<std::pair<std::string, std::string>> prompts;
    ModelState availability() override { return state; }
    Generation generate(const std::string& system, const std::string& user) override {
        prompts.emplace_back(system, user);
        return generation;
    }
};

class Helper : public ::testing::Test {
protected:
    std::string answer(std::string_view line) { return helper.lineServer().answer(line); }
    FakeModel model;
    AppleLLMHelper helper{model};
};

TEST_F(Helper, StatusWordsEveryStateForTheUser) {
    const std::pair<ModelState, const char*> cases[] = {
        {ModelState::available, R"({"ok":true,"available":true})"},
        {ModelState::deviceNotEligible,
         R"({"ok":true,"available":false,"reason":"This device doesn't support Apple Intelligence"})"},
        {ModelState::appleIntelligenceNotEnabled,
         "{\"ok\":true,\"available\":false,\"reason\":\"Turn on Apple Intelligence: System Settings \u2192 Apple "
         "Intelligence & Siri, then switch it on. A multi-GB on-device model downloads afterward.\"}"},
        {ModelState::modelNotReady,
         "{\"ok\":true,\"available\":false,\"reason\":\"Apple Intelligence is on \u2014 its on-device model is "
         "still downloading. This becomes available once it finishes.\"}"},
        {ModelState::otherReason, R"({"ok":true,"available":false,"reason":"Apple Intelligence isn't available"})"},
    };
    for (const auto& [state, reply] : cases) {
        model.state = state;
        EXPECT_EQ(answer(R"({"op":"status"})"), reply);
    }
    EXPECT_TRUE(model.prompts.empty());
}

TEST_F(Helper, GenerateRepliesByOutcome) {
    const std::pair<Generation, const char*> cases[] = {
        {{Generation::Kind::answered, "a/b"}, R"({"ok":true,"content":"a\/b"})"},
        {{Generation::Kind::contextExceeded, "too long"},
         R"({"ok":false,"error":"context window exceeded","code":"context_exceeded"})"},
        {{Generation::Kind::failed, "busy"}, R"({"ok":false,"error":"busy","code":"other"})"},
    };
    for (const auto& [generation, reply] : cases) {
        model.generation = generation;
        EXPECT_EQ(answer(R"({"op":"generate","system":"s","user":"u"})"), reply);
    }
    answer(R"({"op":"generate","system":null})");  // absent prompts are empty
    EXPECT_EQ(model.prompts.back(), (std::pair<std::string, std::string>("", "")));
}

// The reader's own rules are the common reader's; what a refused line is answered here.
TEST_F(Helper, RefusedAndUnknownRequests) {
    const char* const bad = R"({"ok":false,"error":"bad request","code":"other"})";
    EXPECT_EQ(answer(R"({"op":"generate","user":["u"]})"), bad);
    EXPECT_EQ(helper.lineServer().tooLong, bad);
    // Unknown keys are skipped; null means absent; letter case counts.
    EXPECT_EQ(answer(R"({"x":[[{"a":[1]}],{}],"op":"Generate","system":null})"),
              R"({"ok":false,"error":"unknown op: Generate","code":"other"})");
    EXPECT_TRUE(model.prompts.empty());
}

}  // namespace
}  // namespace tevoli::llm

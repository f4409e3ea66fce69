#include "apple_llm_helper.h"
#include "openai_api.h"

#include <gtest/gtest.h>

#include <tuple>

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
    const char* const generate = R"({"op":"generate","system":"s","user":"u"})";
    const char* const bad = R"({"ok":false,"error":"bad request","code":"other"})";
    const std::tuple<const char*, Generation, const char*> cases[] = {
        {generate, {Generation::Kind::answered, "a/b"}, R"({"ok":true,"content":"a\/b"})"},
        {generate, {Generation::Kind::contextExceeded, "too long"},
         R"({"ok":false,"error":"context window exceeded","code":"context_exceeded"})"},
        {generate, {Generation::Kind::failed, "busy"}, R"({"ok":false,"error":"busy","code":"other"})"},
        // The reader's own rules are the common reader's: unknown keys are skipped, null means absent.
        {R"({"op":"generate","user":["u"]})", {}, bad},
        {R"({"x":[[{"a":[1]}],{}],"op":"Generate","system":null})", {},
         R"({"ok":false,"error":"unknown op: Generate","code":"other"})"},
    };
    for (const auto& [line, generation, reply] : cases) {
        model.generation = generation;
        EXPECT_EQ(answer(line), reply) << line;
    }
    EXPECT_EQ(helper.lineServer().tooLong, bad);
    EXPECT_EQ(model.prompts.size(), 3u);  // none for the refused lines
    answer(R"({"op":"generate","system":null})");  // absent prompts are empty
    EXPECT_EQ(model.prompts.back(), (std::pair<std::string, std::string>("", "")));
}

HttpResult answer(long status, std::string body) { return {true, false, status, std::move(body), {}}; }
const HttpResult kRefused{false, true, 0, {}, "Couldn't connect to server"};
const HttpResult kListed = answer(200, R"({"data":[{"id":"first"},{"id":"second"}]})");

TEST(OpenAiApi, DiscoveryTakesTheFirstListingModelElseTheMostPromisingAnswer) {
    const HttpResult notFound = answer(404, "File Not Found"), loading = answer(503, R"({"error":{"message":"Loading"}})");
    const struct {
        std::vector<HttpResult> answers;  // of the addresses in their order
        ModelState state;
        std::string address;
        std::string failure;  // what a prompt gets
    } cases[] = {
        {{kRefused, kRefused, kRefused}, ModelState::appleIntelligenceNotEnabled, "8080", "Couldn't connect to server"},
        {{notFound, kRefused, kRefused}, ModelState::otherReason, "8080", "the model server answered HTTP 404"},
        {{notFound, loading, kRefused}, ModelState::modelNotReady, "11434", "Loading"},
        {{answer(200, R"({"data":[]})"), notFound, kRefused}, ModelState::modelNotReady, "8080",
         "the model server has no model loaded"},
        {{{false, false, 0, {}, "timed out"}, kRefused, kRefused}, ModelState::otherReason, "8080", "timed out"},
        {{answer(200, R"({"data":{}})"), kRefused, kRefused}, ModelState::otherReason, "8080",
         "the server at this address lists no models"},
        {{answer(200, R"({"data":[{"name":"a"}]})"), kRefused, kRefused}, ModelState::otherReason, "8080",
         "the model server lists a model without a name"},
        {{notFound, loading, kListed}, ModelState::available, "1234", ""},
        {{kListed, kListed, kListed}, ModelState::available, "8080", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> asked;
        const Discovery found = discoverServer([&](const std::string& url) {
            asked.push_back(url);
            return c.answers.at(asked.size() - 1);
        });
        EXPECT_EQ(std::tie(found.state, found.address, found.failure.text),
                  std::make_tuple(c.state, "http://127.0.0.1:" + c.address, c.failure));
        EXPECT_EQ(found.model, c.state == ModelState::available ? "first" : "");
        // The first that lists a model ends the search.
        EXPECT_EQ(asked.size(), c.answers[0].body == kListed.body ? 1u : 3u);
        EXPECT_EQ(asked.front(), "http://127.0.0.1:8080/v1/models");
    }
}

TEST(OpenAiApi, ChatAnswersAndFailures) {
    const char* const noText = "the model server sent an answer without text";
    const std::pair<HttpResult, Generation> cases[] = {
        {answer(200, "{\"choices\":[{\"message\":{\"content\":\"caf\xc3 ok\"}}]}"),
         {Generation::Kind::answered, "caf\uFFFD ok"}},
        {answer(400, R"({"error":{"type":"exceed_context_size_error","message":"too long"}})"),
         {Generation::Kind::contextExceeded, "too long"}},
        {answer(400, R"({"error":{"code":"context_length_exceeded","message":"max"}})"),
         {Generation::Kind::contextExceeded, "max"}},
        {answer(400, R"({"error":"This model's maximum context length is 4096 tokens"})"),
         {Generation::Kind::contextExceeded, "This model's maximum context length is 4096 tokens"}},
        // The model's own failure: the prompt is not to blame.
        {answer(500, R"({"error":{"message":"failed to allocate context: requested size exceeds available memory"}})"),
         {Generation::Kind::failed, "failed to allocate context: requested size exceeds available memory"}},
        {answer(502, "Bad Gateway"), {Generation::Kind::failed, "the model server answered HTTP 502"}},
        {{false, false, 0, {}, "Connection reset by peer"}, {Generation::Kind::failed, "Connection reset by peer"}},
        {answer(200, R"({"error":{"message":"busy"}})"), {Generation::Kind::failed, "busy"}},
        {answer(200, R"({"choices":[]})"), {Generation::Kind::failed, noText}},
        {answer(200, R"({"choices":[{"message":{"content":null}}]})"), {Generation::Kind::failed, noText}},
    };
    for (const auto& [result, expected] : cases) {
        const Generation generation = generationFrom(result);
        EXPECT_EQ(generation.kind, expected.kind) << result.body;
        EXPECT_EQ(generation.text, expected.text) << result.body;
    }
}

}  // namespace
}  // namespace tevoli::llm

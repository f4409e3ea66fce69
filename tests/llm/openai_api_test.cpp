// Model server answers the stand-in server of the end-to-end tests does not give.
#include "openai_api.h"

#include <gtest/gtest.h>

namespace tevoli::llm {
namespace {

HttpResult answer(long status, std::string body) { return {true, false, status, std::move(body), {}}; }
const HttpResult kRefused{false, true, 0, {}, "Couldn't connect to server"};
const HttpResult kListed = answer(200, R"({"data":[{"id":"first"},{"id":"second"}]})");

TEST(OpenAiApi, DiscoveryTakesTheFirstListingModelElseTheMostPromisingAnswer) {
    const HttpResult notFound = answer(404, "File Not Found"), loading = answer(503, R"({"error":{"message":"Loading"}})");
    const struct {
        std::vector<HttpResult> answers;  // of the addresses in their order
        ModelState state;
        std::string address;
        std::size_t asked;
    } cases[] = {
        {{kRefused, kRefused, kRefused}, ModelState::appleIntelligenceNotEnabled, "http://127.0.0.1:8080", 3},
        {{notFound, kRefused, kRefused}, ModelState::otherReason, "http://127.0.0.1:8080", 3},
        {{notFound, loading, kRefused}, ModelState::modelNotReady, "http://127.0.0.1:11434", 3},
        {{answer(200, R"({"data":[]})"), notFound, kRefused}, ModelState::modelNotReady, "http://127.0.0.1:8080", 3},
        {{{false, false, 0, {}, "timed out"}, kRefused, kRefused}, ModelState::otherReason, "http://127.0.0.1:8080", 3},
        {{notFound, loading, kListed}, ModelState::available, "http://127.0.0.1:1234", 3},
        {{kListed, kListed, kListed}, ModelState::available, "http://127.0.0.1:8080", 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> asked;
        const Discovery found = discoverServer([&](const std::string& url) {
            asked.push_back(url);
            return c.answers.at(asked.size() - 1);
        });
        EXPECT_EQ(found.state, c.state) << c.address;
        EXPECT_EQ(found.address, c.address);
        EXPECT_EQ(found.model, c.state == ModelState::available ? "first" : "");
        EXPECT_EQ(asked.size(), c.asked);
        EXPECT_EQ(asked.front(), "http://127.0.0.1:8080/v1/models");
    }
}

TEST(OpenAiApi, AListingWithoutANamedModelIsUnusable) {
    for (const char* body : {"<html>", R"({"data":{}})", R"({"data":[{"name":"a"}]})"}) {
        const Listing listing = listingFrom(answer(200, body));
        EXPECT_EQ(listing.kind, Listing::Kind::unusable) << body;
        EXPECT_FALSE(listing.failure.text.empty());
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

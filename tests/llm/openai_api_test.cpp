#include "openai_api.h"

#include <gtest/gtest.h>

#include <map>

using namespace tevoli::llm;

namespace {

HttpResult answer(long status, std::string body) { return {true, false, status, std::move(body), {}}; }
HttpResult refused() { return {false, true, 0, {}, "Couldn't connect to server"}; }

}  // namespace

TEST(OpenAiApi, ChatRequestHoldsTheTwoMessagesAndNothingElse) {
    EXPECT_EQ(chatRequestBody("m", "", "h\xc3\xa9 \"x\""),
              R"({"messages":[{"content":"","role":"system"},{"content":"hé \"x\"","role":"user"}],"model":"m"})");
}

TEST(OpenAiApi, ListingTellsWhetherAServerHasAModel) {
    const Listing models = listingFrom(answer(200, R"({"object":"list","data":[{"id":"a"},{"id":"b"}]})"));
    EXPECT_EQ(models.kind, Listing::Kind::models);
    EXPECT_EQ(models.model, "a");

    EXPECT_EQ(listingFrom(refused()).kind, Listing::Kind::absent);
    const Listing loading = listingFrom(answer(503, R"({"error":{"code":503,"message":"Loading model"}})"));
    EXPECT_EQ(loading.kind, Listing::Kind::loading);
    EXPECT_EQ(loading.failure.text, "Loading model");
    EXPECT_EQ(listingFrom(answer(200, R"({"data":[]})")).kind, Listing::Kind::loading);
    for (const HttpResult& result : {answer(404, "<html>"), answer(200, "<html>"), answer(200, R"({"data":{}})"),
                                     answer(200, R"({"data":[{"name":"a"}]})"),
                                     HttpResult{false, false, 0, {}, "Operation timed out"}}) {
        const Listing listing = listingFrom(result);
        EXPECT_EQ(listing.kind, Listing::Kind::unusable) << result.body;
        EXPECT_FALSE(listing.failure.text.empty());
    }
}

TEST(OpenAiApi, DiscoveryTakesTheFirstServerWithAModelElseTheMostPromisingAnswer) {
    std::map<std::string, HttpResult> servers;
    std::vector<std::string> asked;
    const HttpGet get = [&](const std::string& url) {
        asked.push_back(url);
        const auto it = servers.find(url);
        return it == servers.end() ? refused() : it->second;
    };
    Discovery none = discoverServer(get);
    EXPECT_EQ(none.state, ModelState::appleIntelligenceNotEnabled);
    EXPECT_EQ(none.failure.text, "Couldn't connect to server");
    EXPECT_EQ(asked, (std::vector<std::string>{"http://127.0.0.1:8080/v1/models", "http://127.0.0.1:11434/v1/models",
                                               "http://127.0.0.1:1234/v1/models"}));

    servers["http://127.0.0.1:8080/v1/models"] = answer(404, "");
    EXPECT_EQ(discoverServer(get).state, ModelState::otherReason);
    servers["http://127.0.0.1:1234/v1/models"] = answer(503, R"({"error":{"message":"Loading model"}})");
    const Discovery loading = discoverServer(get);
    EXPECT_EQ(loading.state, ModelState::modelNotReady);
    EXPECT_EQ(loading.failure.text, "Loading model");

    servers["http://127.0.0.1:11434/v1/models"] = answer(200, R"({"data":[{"id":"llama3"}]})");
    asked.clear();
    const Discovery found = discoverServer(get);
    EXPECT_EQ(found.state, ModelState::available);
    EXPECT_EQ(found.address, "http://127.0.0.1:11434");
    EXPECT_EQ(found.model, "llama3");
    EXPECT_EQ(asked.size(), 2u);
}

TEST(OpenAiApi, ChatAnswerGivesTheTextOrTheFailure) {
    const Generation answered =
        generationFrom(answer(200, R"({"choices":[{"message":{"role":"assistant","content":"Hi \u2192"}}]})"));
    EXPECT_EQ(answered.kind, Generation::Kind::answered);
    EXPECT_EQ(answered.text, "Hi \xe2\x86\x92");

    const std::pair<HttpResult, Generation> cases[] = {
        {answer(400, R"({"error":{"type":"exceed_context_size_error","message":"too big"}})"),
         {Generation::Kind::contextExceeded, "too big"}},
        {answer(400, R"({"error":{"code":"context_length_exceeded","message":"max"}})"),
         {Generation::Kind::contextExceeded, "max"}},
        {answer(400, R"({"error":"This model's maximum context length is 4096 tokens"})"),
         {Generation::Kind::contextExceeded, "This model's maximum context length is 4096 tokens"}},
        {answer(500, R"({"error":{"message":"model failed","type":"server_error"}})"),
         {Generation::Kind::failed, "model failed"}},
        {answer(502, "Bad Gateway"), {Generation::Kind::failed, "the model server answered HTTP 502"}},
        {answer(200, R"({"error":{"message":"busy"}})"), {Generation::Kind::failed, "busy"}},
        {answer(200, R"({"choices":[]})"), {Generation::Kind::failed, "the model server sent an answer without text"}},
        {answer(200, R"({"choices":[{"message":{"content":null}}]})"),
         {Generation::Kind::failed, "the model server sent an answer without text"}},
        {HttpResult{false, false, 0, {}, "Empty reply from server"}, {Generation::Kind::failed, "Empty reply from server"}},
    };
    for (const auto& [result, expected] : cases) {
        const Generation generation = generationFrom(result);
        EXPECT_EQ(generation.kind, expected.kind) << result.body;
        EXPECT_EQ(generation.text, expected.text) << result.body;
    }
}

// Model server answers the stand-in server of the end-to-end tests does not give.
#include "openai_api.h"

#include <gtest/gtest.h>

using namespace tevoli::llm;

namespace {

HttpResult answer(long status, std::string body) { return {true, false, status, std::move(body), {}}; }

}  // namespace

TEST(OpenAiApi, AListingWithoutANamedModelOrATimeoutIsUnusable) {
    for (const HttpResult& result : {answer(200, "<html>"), answer(200, R"({"data":{}})"),
                                     answer(200, R"({"data":[{"name":"a"}]})"),
                                     HttpResult{false, false, 0, {}, "Operation timed out"}}) {
        const Listing listing = listingFrom(result);
        EXPECT_EQ(listing.kind, Listing::Kind::unusable) << result.body;
        EXPECT_FALSE(listing.failure.text.empty());
    }
}

TEST(OpenAiApi, ChatFailuresOfOtherServers) {
    const char* const noText = "the model server sent an answer without text";
    const std::pair<HttpResult, Generation> cases[] = {
        {answer(400, R"({"error":{"code":"context_length_exceeded","message":"max"}})"),
         {Generation::Kind::contextExceeded, "max"}},
        {answer(400, R"({"error":"This model's maximum context length is 4096 tokens"})"),
         {Generation::Kind::contextExceeded, "This model's maximum context length is 4096 tokens"}},
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

#include "apple_llm_helper.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

using namespace tevoli::llm;

namespace {

// A model that answers from a script and records what it was asked.
class FakeModel : public ModelService {
public:
    ModelState state = ModelState::available;
    Generation next{Generation::Kind::answered, "answer"};
    std::vector<std::pair<std::string, std::string>> prompts;

    ModelState availability() override { return state; }
    Generation generate(const std::string& system, const std::string& user) override {
        prompts.emplace_back(system, user);
        return next;
    }
};

std::string replyTo(AppleLLMHelper& helper, const std::string& line) {
    const auto reply = helper.respond(tevoli::Line{line, false});
    return reply ? encodeReply(*reply) : "<none>";
}

}  // namespace

TEST(AppleLLMHelper, StatusGivesEachStateItsExactText) {
    FakeModel model;
    AppleLLMHelper helper(model);
    EXPECT_EQ(replyTo(helper, R"({"op":"status"})"), R"({"ok":true,"available":true})");
    const std::pair<ModelState, const char*> cases[] = {
        {ModelState::deviceNotEligible, "This device doesn't support Apple Intelligence"},
        {ModelState::appleIntelligenceNotEnabled,
         "Turn on Apple Intelligence: System Settings \xe2\x86\x92 Apple Intelligence & Siri, then switch it on. "
         "A multi-GB on-device model downloads afterward."},
        {ModelState::modelNotReady,
         "Apple Intelligence is on \xe2\x80\x94 its on-device model is still downloading. This becomes available "
         "once it finishes."},
        {ModelState::otherReason, "Apple Intelligence isn't available"},
    };
    for (const auto& [state, text] : cases) {
        model.state = state;
        const Availability availability = helper.availability();
        EXPECT_FALSE(availability.available);
        EXPECT_EQ(availability.reason, text);
        EXPECT_EQ(replyTo(helper, R"({"op":"status"})"),
                  std::string(R"({"ok":true,"available":false,"reason":")") + text + "\"}");
    }
}

TEST(AppleLLMHelper, GenerateMapsEachOutcome) {
    FakeModel model;
    AppleLLMHelper helper(model);
    model.next = {Generation::Kind::answered, "It is 4."};
    EXPECT_EQ(replyTo(helper, R"({"op":"generate","system":"s","user":"2+2?"})"), R"({"ok":true,"content":"It is 4."})");
    model.next = {Generation::Kind::answered, ""};
    EXPECT_EQ(replyTo(helper, R"({"op":"generate"})"), R"({"ok":true,"content":""})");
    model.next = {Generation::Kind::contextExceeded, "the request exceeds the available context size"};
    EXPECT_EQ(replyTo(helper, R"({"op":"generate"})"),
              R"({"ok":false,"error":"context window exceeded","code":"context_exceeded"})");
    model.next = {Generation::Kind::failed, "Loading model"};
    EXPECT_EQ(replyTo(helper, R"({"op":"generate"})"), R"({"ok":false,"error":"Loading model","code":"other"})");
    // Generating is tried whatever the availability; absent prompts are empty.
    model.state = ModelState::appleIntelligenceNotEnabled;
    replyTo(helper, R"({"op":"generate","system":null})");
    const std::vector<std::pair<std::string, std::string>> expected{{"s", "2+2?"}, {"", ""}, {"", ""}, {"", ""}, {"", ""}};
    EXPECT_EQ(model.prompts, expected);
}

TEST(AppleLLMHelper, RefusesBadLinesWithCodeOther) {
    FakeModel model;
    AppleLLMHelper helper(model);
    EXPECT_EQ(replyTo(helper, R"({"op":"generate","user":5})"), R"({"ok":false,"error":"bad request","code":"other"})");
    EXPECT_EQ(replyTo(helper, R"({"op":""})"), R"({"ok":false,"error":"unknown op: ","code":"other"})");
    EXPECT_EQ(replyTo(helper, " \t\r"), "<none>");
    const auto tooLong = helper.respond(tevoli::Line{"", true});
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(encodeReply(*tooLong), R"({"ok":false,"error":"request too long","code":"other"})");
    EXPECT_TRUE(model.prompts.empty());
}

TEST(AppleLLMHelper, ServeAnswersEachLineInOrderAsJsonThenLineFeed) {
    FakeModel model;
    AppleLLMHelper helper(model);
    std::deque<tevoli::Line> input{{R"({"op":"status"})", false}, {"", false}, {"x", false}, {R"({"op":"generate"})", false}};
    std::vector<std::string> writes;
    helper.serve(
        [&]() -> std::optional<tevoli::Line> {
            if (input.empty()) return std::nullopt;
            tevoli::Line line = input.front();
            input.pop_front();
            return line;
        },
        [&](std::string_view bytes) { writes.emplace_back(bytes); });
    const std::vector<std::string> expected{R"({"ok":true,"available":true})", "\n",
                                            R"({"ok":false,"error":"bad request","code":"other"})", "\n",
                                            R"({"ok":true,"content":"answer"})", "\n"};
    EXPECT_EQ(writes, expected);
}

#include "apple_llm_helper.h"

#include <gtest/gtest.h>

using namespace tevoli::llm;

namespace {

// Every line here is answered without a prompt reaching the model.
class UnaskedModel : public ModelService {
public:
    ModelState state = ModelState::available;
    ModelState availability() override { return state; }
    Generation generate(const std::string&, const std::string&) override {
        ADD_FAILURE() << "the model was prompted";
        return {};
    }
};

std::string replyTo(AppleLLMHelper& helper, const tevoli::Line& line) {
    const auto reply = helper.respond(line);
    return reply ? encodeReply(*reply) : "<none>";
}

}  // namespace

TEST(AppleLLMHelper, RefusesAnythingButOneObjectWithTypedFields) {
    UnaskedModel model;
    AppleLLMHelper helper(model);
    for (const char* text : {"[]", "\"op\"", "null", R"({"op":"status"} x)", R"({"op":"status")", "{}",
                             R"({"op":null})", R"({"op":1})", R"({"op":"generate","system":{}})",
                             R"({"op":"generate","user":false})", R"({"op":"\ud800"})", R"({"op":"status",})",
                             R"({"op":"generate","user":["u"]})"}) {
        EXPECT_EQ(replyTo(helper, {text, false}), R"({"ok":false,"error":"bad request","code":"other"})") << text;
    }
    EXPECT_EQ(replyTo(helper, {"", true}), R"({"ok":false,"error":"request too long","code":"other"})");
    // Unknown keys of any shape are skipped; null means absent.
    EXPECT_EQ(replyTo(helper, {R"({"x":[[{"a":[1]}],{}],"op":"bogus","system":null})", false}),
              R"({"ok":false,"error":"unknown op: bogus","code":"other"})");
}

TEST(AppleLLMHelper, AnIneligibleDeviceHasItsOwnReason) {
    UnaskedModel model;
    model.state = ModelState::deviceNotEligible;
    AppleLLMHelper helper(model);
    EXPECT_EQ(replyTo(helper, {R"({"op":"status"})", false}),
              R"({"ok":true,"available":false,"reason":"This device doesn't support Apple Intelligence"})");
}

#include "protocol.h"

#include <gtest/gtest.h>

using namespace tevoli::llm;

TEST(DecodeRequest, ReadsOpAndOptionalStrings) {
    const auto full = decodeRequest(R"({"user":"u","op":"generate","system":"s","other":[1,{"x":null}]})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->op, "generate");
    EXPECT_EQ(full->system, "s");
    EXPECT_EQ(full->user, "u");

    const auto bare = decodeRequest(R"({"op":"generate","system":null})");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->system);
    EXPECT_FALSE(bare->user);
}

TEST(DecodeRequest, RefusesAnythingButOneObjectWithTypedFields) {
    for (const char* text : {
             "", "nope", "[]", "\"op\"", "null", R"({"op":"status"} x)", R"({"op":"status"}{"op":"status"})",
             R"({"op":"status")", "{}", R"({"op":null})", R"({"op":1})", R"({"op":"generate","user":5})",
             R"({"op":"generate","system":{}})", R"({"op":"generate","user":false})", R"({"op":"\ud800"})",
             R"({"op":"status",})"}) {
        EXPECT_FALSE(decodeRequest(text)) << text;
    }
}

TEST(EncodeReply, WritesOnlySetFieldsInTheirOrder) {
    EXPECT_EQ(encodeReply(Reply{true, {}, {}, {}, {}, {}}), R"({"ok":true})");
    EXPECT_EQ(encodeReply(Reply{}), R"({"ok":false})");
    EXPECT_EQ(encodeReply(Reply{false, false, "r", "c", "e", "other"}),
              R"({"ok":false,"available":false,"reason":"r","content":"c","error":"e","code":"other"})");
}

TEST(EncodeReply, EscapesLikeTheHostsEncoder) {
    Reply reply{true, {}, {}, std::string("a/b \"q\" \\ \n\t\x1b\x7f \xe2\x86\x92 \xc3\xa9"), {}, {}};
    EXPECT_EQ(encodeReply(reply), "{\"ok\":true,\"content\":\"a\\/b \\\"q\\\" \\\\ \\n\\t\\u001b\x7f \xe2\x86\x92 \xc3\xa9\"}");
}

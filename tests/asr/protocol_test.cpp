#include "protocol.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pcm.h"

namespace tevoli::asr {
namespace {

TEST(DecodeRequest, ReadsEveryField) {
    const auto request =
        decodeRequest(R"({"op":"feed","stream":"mic","locale":"en_GB","pcm":"AAAA","offset_ms":-1500})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->op, "feed");
    EXPECT_EQ(request->stream, "mic");
    EXPECT_EQ(request->locale, "en_GB");
    EXPECT_EQ(request->pcm, "AAAA");
    EXPECT_EQ(request->offset_ms, -1500);
}

TEST(DecodeRequest, NullMeansAbsentAndUnknownKeysAreIgnored) {
    const auto request = decodeRequest(
        R"({"op":"feed","stream":null,"pcm":null,"offset_ms":null,"extra":{"a":[1,{"b":null}]},"more":[[[]]]})");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->stream);
    EXPECT_FALSE(request->pcm);
    EXPECT_FALSE(request->offset_ms);
}

TEST(DecodeRequest, WholeNumbersInAnySpellingAreOffsets) {
    EXPECT_EQ(decodeRequest(R"({"op":"feed","offset_ms":1.0})")->offset_ms, 1);
    EXPECT_EQ(decodeRequest(R"({"op":"feed","offset_ms":1e3})")->offset_ms, 1000);
    EXPECT_EQ(decodeRequest(R"({"op":"feed","offset_ms":9223372036854775807})")->offset_ms, INT64_MAX);
    EXPECT_EQ(decodeRequest(R"({"op":"feed","offset_ms":-9223372036854775808})")->offset_ms, INT64_MIN);
}

TEST(DecodeRequest, RejectsWrongTypesAndShapes) {
    for (const char* line : {
             R"({"op":"feed","offset_ms":1.5})",
             R"({"op":"feed","offset_ms":"1"})",
             R"({"op":"feed","offset_ms":9223372036854775808})",
             R"({"op":"feed","offset_ms":1e19})",
             R"({"op":"feed","offset_ms":true})",
             R"({"op":"begin","stream":7})",
             R"({"op":"begin","locale":["en"]})",
             R"({"op":"feed","pcm":{}})",
             R"({"op":3})",
             R"({"op":null})",
             R"({"stream":"x"})",
             R"({"op":"status"}{"op":"status"})",
             R"({"op":"status"} x)",
             R"(["op","status"])",
             R"("status")",
             R"({"op":"status")",
             "",
         }) {
        EXPECT_FALSE(decodeRequest(line)) << line;
    }
}

TEST(DecodeRequest, ReadsBytesThatAreNotUtf8AsReplacementCharacters) {
    const auto request = decodeRequest(tevoli::trimmedUtf8("{\"op\":\"st\xC3\"}"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->op, "st\xEF\xBF\xBD");
}

TEST(EncodeReply, LeavesUnsetFieldsOut) {
    EXPECT_EQ(encodeReply(Reply{}), R"({"ok":false})");
    Reply ok;
    ok.ok = true;
    EXPECT_EQ(encodeReply(ok), R"({"ok":true})");
    ok.segments.emplace();
    EXPECT_EQ(encodeReply(ok), R"({"ok":true,"segments":[]})");
}

TEST(EncodeReply, WritesKeysInDeclarationOrder) {
    Reply reply;
    reply.ok = true;
    reply.error = "e";
    reply.segments = std::vector<Seg>{{-5, 20, "", std::nullopt}, {1, 2, "hi", ""}};
    reply.downloaded = true;
    reply.reason = "r";
    reply.available = false;
    EXPECT_EQ(encodeReply(reply),
              R"({"ok":true,"available":false,"reason":"r","downloaded":true,"segments":[)"
              R"({"t0_ms":-5,"t1_ms":20,"text":""},{"t0_ms":1,"t1_ms":2,"text":"hi","speaker":""}],"error":"e"})");
}

TEST(EncodeReply, EscapesSolidusAndControlsAndKeepsUnicodeRaw) {
    const Reply reply = Reply::failure("a/b \"q\" \\ \n\x1b caf\xC3\xA9 \xE2\x80\xA8");
    EXPECT_EQ(encodeReply(reply), "{\"ok\":false,\"error\":\"a\\/b \\\"q\\\" \\\\ \\n\\u001b caf\xC3\xA9 \xE2\x80\xA8\"}");
    EXPECT_EQ(kEncodeFailedLine.size(), 36u);
}

TEST(HelperError, TextualFormIsCaseNameAndQuotedMessage) {
    EXPECT_STREQ(HelperError::msg("could not build input format").what(), R"(msg("could not build input format"))");
    EXPECT_STREQ(HelperError::msg("a \"b\" \\ \n").what(), R"(msg("a \"b\" \\ \n"))");
}

TEST(DecodeBase64, IsStrictStandardBase64WithPadding) {
    EXPECT_EQ(decodeBase64(""), "");
    EXPECT_EQ(decodeBase64("AAECAw=="), std::string("\x00\x01\x02\x03", 4));
    EXPECT_EQ(decodeBase64("+/+/"), "\xFB\xFF\xBF");
    EXPECT_EQ(decodeBase64("YWI="), "ab");
    for (const char* bad : {"AAECAw", "AAEC Aw==", "AAEC\nAw==", "AA=CAw==", "AAECA===", "-_-_", "YW=I", "=AAA"})
        EXPECT_FALSE(decodeBase64(bad)) << bad;
}

TEST(SamplesFromBytes, ReadsLittleEndianFloatsAndIgnoresATrailingPartialSample) {
    const std::string bytes("\x00\x00\x80\x3F" "\x00\x00\x00\xBF" "\x01\x02\x03", 11);
    EXPECT_EQ(samplesFromBytes(bytes), (std::vector<float>{1.0f, -0.5f}));
    EXPECT_EQ(samplesFromBytes(std::string(7, '\0')).size(), 1u);
    EXPECT_TRUE(samplesFromBytes("").empty());
}

TEST(ToInt16, ClampsAndSilencesWhatIsNotANumber) {
    const std::vector<float> samples{0.0f, 1.0f, -1.0f, 2.0f, -7.0f, 0.5f, std::nanf(""), INFINITY};
    EXPECT_EQ(toInt16(samples),
              (std::vector<std::int16_t>{0, 32767, -32767, 32767, -32767, 16384, 0, 32767}));
}

}  // namespace
}  // namespace tevoli::asr

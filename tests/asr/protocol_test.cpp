#include "asr_protocol.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pcm.h"
#include "utf8.h"

namespace tevoli::asr {
namespace {

TEST(DecodeRequest, ReadsTypedFieldsTakesNullAsAbsentAndSkipsUnknownKeys) {
    const auto request = decodeRequest(
        R"({"op":"feed","stream":"mic","locale":"en_GB","pcm":null,"offset_ms":-1500,"x":{"a":[1,{"b":null}]}})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->op, "feed");
    EXPECT_EQ(request->stream, "mic");
    EXPECT_EQ(request->locale, "en_GB");
    EXPECT_FALSE(request->pcm);
    EXPECT_EQ(request->offset_ms, -1500);
    EXPECT_EQ(decodeRequest(trimmedUtf8("{\"op\":\"st\xC3\"}"))->op, "st\xEF\xBF\xBD");
}

TEST(DecodeRequest, OffsetsAreWholeNumbersWithinSixtyFourBitsInAnySpelling) {
    const std::pair<const char*, std::int64_t> whole[] = {
        {"1.0", 1}, {"1e3", 1000}, {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN}};
    for (const auto& [text, value] : whole)
        EXPECT_EQ(decodeRequest(std::string(R"({"op":"feed","offset_ms":)") + text + "}")->offset_ms, value) << text;
}

TEST(DecodeRequest, RejectsWrongTypesAndShapes) {
    for (const char* line : {
             R"({"op":"feed","offset_ms":1.5})",
             R"({"op":"feed","offset_ms":"1"})",
             R"({"op":"feed","offset_ms":9223372036854775808})",
             R"({"op":"feed","offset_ms":-9223372036854775809})",
             R"({"op":"feed","offset_ms":-1e19})",
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
         }) {
        EXPECT_FALSE(decodeRequest(line)) << line;
    }
}

TEST(HelperError, TextualFormQuotesTheMessage) {
    EXPECT_STREQ(HelperError::msg("a \"b\" \\ \n\x7f").what(), R"(msg("a \"b\" \\ \n\u{7F}"))");
}

TEST(DecodeBase64, IsStrictStandardBase64WithPadding) {
    EXPECT_EQ(decodeBase64(""), "");
    EXPECT_EQ(decodeBase64("AAECAw=="), std::string("\x00\x01\x02\x03", 4));
    EXPECT_EQ(decodeBase64("+/+/"), "\xFB\xFF\xBF");
    EXPECT_EQ(decodeBase64("YWI="), "ab");
    for (const char* bad : {"AAECAw", "AAEC Aw==", "AAEC\nAw==", "AA=CAw==", "AAECA===", "-_-_", "YW=I", "=AAA"})
        EXPECT_FALSE(decodeBase64(bad)) << bad;
}

TEST(Samples, AreLittleEndianFloatsClampedTo16BitsWithNaNAsSilence) {
    const std::string bytes("\x00\x00\x80\x3F" "\x00\x00\x00\xBF" "\x01\x02\x03", 11);  // 1, -0.5, a partial sample
    EXPECT_EQ(samplesFromBytes(bytes), (std::vector<float>{1.0f, -0.5f}));
    const std::vector<float> samples{0.0f, 1.0f, -1.0f, 2.0f, -7.0f, 0.5f, std::nanf(""), INFINITY};
    EXPECT_EQ(toInt16(samples), (std::vector<std::int16_t>{0, 32767, -32767, 32767, -32767, 16384, 0, 32767}));
}

}  // namespace
}  // namespace tevoli::asr

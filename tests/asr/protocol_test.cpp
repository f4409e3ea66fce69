#include "asr_protocol.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pcm.h"
#include "utf8.h"

namespace tevoli::asr {
namespace {

// The reader's own rules are the common reader's; these are the fields asr takes.
TEST(DecodeRequest, TakesItsFieldsByTypeNullAsAbsent) {
    const auto request = decodeRequest(
        R"({"op":"feed","stream":"mic","locale":"en_GB","pcm":null,"offset_ms":-1500,"x":{"a":[1,{"b":null}]}})");
    ASSERT_TRUE(request);
    EXPECT_EQ(std::tie(request->op, request->stream, request->locale, request->pcm, request->offset_ms),
              std::make_tuple("feed", std::optional<std::string>("mic"), std::optional<std::string>("en_GB"),
                              std::optional<std::string>(), std::optional<std::int64_t>(-1500)));
    EXPECT_EQ(decodeRequest(R"({"op":"feed","offset_ms":null})")->offset_ms, std::nullopt);
    EXPECT_EQ(decodeRequest(trimmedUtf8("{\"op\":\"st\xC3\"}"))->op, "st\xEF\xBF\xBD");
    for (const char* line : {R"({"op":"feed","offset_ms":1.5})", R"({"op":"feed","offset_ms":"1"})",
                             R"({"op":"begin","stream":7})", R"({"op":"begin","locale":["en"]})",
                             R"({"op":"feed","pcm":{}})"})
        EXPECT_FALSE(decodeRequest(line)) << line;
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

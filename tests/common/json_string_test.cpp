#include "json_string.h"

#include <gtest/gtest.h>

using tevoli::jsonString;
using tevoli::JsonStringForm;

TEST(JsonString, EmptyTextIsTwoQuotes) { EXPECT_EQ(jsonString(""), "\"\""); }

TEST(JsonString, ShortEscapes) {
    EXPECT_EQ(jsonString("a\"b\\c\nd"), R"("a\"b\\c\nd")");
    EXPECT_EQ(jsonString("\r\t"), R"("\r\t")");
}

TEST(JsonString, OtherControlsAreFourLowerHexDigits) {
    EXPECT_EQ(jsonString("\x1b"), R"("\u001b")");
    EXPECT_EQ(jsonString(std::string("\0\b\f\x1f", 4)), R"("\u0000\u0008\u000c\u001f")");
}

TEST(JsonString, WindowFormHasNoShortEscapeForCarriageReturnAndTab) {
    EXPECT_EQ(jsonString("\r\t\n\"\\", JsonStringForm::window), R"("\u000d\u0009\n\"\\")");
}

TEST(JsonString, SolidusDeleteAndNonAsciiPassUnchanged) {
    EXPECT_EQ(jsonString("é/ü\x7f\u2028😀"), "\"é/ü\x7f\u2028😀\"");
}

TEST(JsonString, IllFormedUtf8BecomesReplacementCharacters) {
    // A lone continuation byte, a truncated three-byte sequence, an encoded surrogate.
    EXPECT_EQ(jsonString("a\x80" "b"), "\"a\uFFFDb\"");
    EXPECT_EQ(jsonString("\xE2\x82"), "\"\uFFFD\"");
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\uFFFD\uFFFD\uFFFD\"");
    EXPECT_EQ(jsonString("\xF0\x9F\x98"), "\"\uFFFD\"");
}

TEST(JsonString, ReplyFormAlsoEscapesTheSolidus) {
    EXPECT_EQ(jsonString("a/b\t", JsonStringForm::reply), R"("a\/b\t")");
}

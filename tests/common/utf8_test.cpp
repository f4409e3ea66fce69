#include "utf8.h"

#include <gtest/gtest.h>

using tevoli::trimmedUtf8;

TEST(TrimmedUtf8, TrimsUnicodeWhiteSpaceAndLineBreaksAtBothEndsOnly) {
    EXPECT_EQ(trimmedUtf8(" \t{\"op\": \"a b\"}\r"), "{\"op\": \"a b\"}");
    EXPECT_EQ(trimmedUtf8("\xc2\xa0\xe2\x80\xa8x y\xe3\x80\x80\xc2\x85"), "x y");  // NBSP, U+2028, U+3000, NEL
    EXPECT_EQ(trimmedUtf8(" \r\n\x0b\x0c "), "");
    EXPECT_EQ(trimmedUtf8("\xe2\x80\x8bx"), "\xe2\x80\x8bx");  // a zero-width space is no white space
}

TEST(TrimmedUtf8, ReadsIllFormedUtf8AsReplacementCharacters) {
    EXPECT_EQ(trimmedUtf8(" a\xff\xc3 "), "a\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(trimmedUtf8("\xFF{}"), "\xEF\xBF\xBD{}");
}

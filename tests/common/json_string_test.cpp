#include "json_string.h"

#include <gtest/gtest.h>

namespace tevoli {
namespace {

TEST(JsonString, EscapesByForm) {
    using enum JsonStringForm;
    const struct {
        std::string text;
        JsonStringForm form;
        std::string literal;
    } cases[] = {
        {"", standard, R"("")"},
        {"a\"b\\c\nd\r\t", standard, R"("a\"b\\c\nd\r\t")"},
        {std::string("\x1b\0\b\f\x1f", 5), standard, R"("\u001b\u0000\u0008\u000c\u001f")"},
        {"\r\t\n\"\\", window, R"("\u000d\u0009\n\"\\")"},
        {"a/b\t", reply, R"("a\/b\t")"},
        // The solidus outside replies, DEL and everything non-ASCII pass unchanged.
        {"é/ü\x7f\u2028😀", standard, "\"é/ü\x7f\u2028😀\""},
        // Ill-formed UTF-8: a lone continuation byte, truncated sequences, an encoded surrogate.
        {"a\x80" "b", standard, "\"a\uFFFDb\""},
        {"\xE2\x82", standard, "\"\uFFFD\""},
        {"\xF0\x9F\x98", standard, "\"\uFFFD\""},
        {"\xED\xA0\x80", standard, "\"\uFFFD\uFFFD\uFFFD\""},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonString(c.text, c.form), c.literal) << c.text;
}

}  // namespace
}  // namespace tevoli

#include "json_fields.h"

#include <gtest/gtest.h>

namespace tevoli {
namespace {

using namespace std::string_view_literals;

// Each top-level field as "key=kind", kinds in JsonField's order and whole numbers as
// their value; "refused" for a line that is not one object.
std::string fields(std::string_view line) {
    std::string seen;
    const bool read = readJsonFields(line, [&](const std::string& key, JsonField value) {
        const auto* number = std::get_if<std::int64_t>(&value);
        seen += key + "=" + (number ? std::to_string(*number) : std::string(1, "nisco"[value.index()])) + " ";
        return true;
    });
    return read ? seen : "refused";
}

TEST(ReadJsonFields, ReportsTopLevelFieldsOnlyAndRefusesAnythingButOneObject) {
    EXPECT_EQ(fields(R"({"a":null,"b":-3,"c":"x","d":{"e":1,"f":["g"]},"h":[],"i":true,"j":1.5,"k":2.0})"),
              "a=n b=-3 c=s d=c h=c i=o j=o k=2 ");
    // Whole numbers in any spelling, within 64 bits.
    EXPECT_EQ(fields(R"({"a":1e3,"b":9223372036854775807,"c":-9223372036854775808,"d":9223372036854775808,)"
                     R"("e":-9223372036854775809,"f":-1e19})"),
              "a=1000 b=9223372036854775807 c=-9223372036854775808 d=o e=o f=o ");
    EXPECT_EQ(fields("{}"), "");
    // A NUL byte is no end of the text.
    for (std::string_view line : {"[]"sv, R"(["a",{"b":1}])"sv, R"("a")"sv, "1"sv, "null"sv, "{} {}"sv,
                                  R"({"a":1)"sv, R"({"a":1,})"sv, ""sv, "{}\0{\"a\":"sv})
        EXPECT_EQ(fields(line), "refused") << line;
}

struct Request {
    std::string op;
    std::optional<std::string> text;
};

TEST(ReadJsonRequest, TakesAStringOpAndTheFieldsTheServerTakes) {
    const auto read = [](std::string_view line) {
        return readJsonRequest<Request>(line, [](Request& request, const std::string& key, JsonField value) {
            return key == "text" ? takeText(request.text, value) : key != "refused";
        });
    };
    const auto request = read(R"({"text":"t","op":"x","other":[{}]})");
    ASSERT_TRUE(request);
    EXPECT_EQ(std::tie(request->op, request->text), std::make_tuple("x", std::optional<std::string>("t")));
    EXPECT_EQ(read(R"({"op":"x","text":null})")->text, std::nullopt);
    for (const char* line : {R"({"text":"t"})", R"({"op":null})", R"({"op":1})", R"({"op":"x","text":7})",
                             R"({"op":"x","text":{}})", R"({"op":"x","refused":1})"})
        EXPECT_FALSE(read(line)) << line;
}

}  // namespace
}  // namespace tevoli

#include "json_fields.h"

#include <gtest/gtest.h>

namespace tevoli {
namespace {

using namespace std::string_view_literals;

// Each top-level field as "key=kind", kinds in JsonField's order; "refused" for a line that is not one object.
std::string fields(std::string_view line) {
    std::string seen;
    const bool read = readJsonFields(line, [&](const std::string& key, JsonField value) {
        seen += key + "=" + "nisco"[value.index()] + " ";
        return true;
    });
    return read ? seen : "refused";
}

TEST(ReadJsonFields, ReportsTopLevelFieldsOnlyAndRefusesAnythingButOneObject) {
    EXPECT_EQ(fields(R"({"a":null,"b":-3,"c":"x","d":{"e":1,"f":["g"]},"h":[],"i":true,"j":1.5,"k":2.0})"),
              "a=n b=i c=s d=c h=c i=o j=o k=i ");
    EXPECT_EQ(fields("{}"), "");
    // A NUL byte is no end of the text.
    for (std::string_view line : {"[]"sv, R"(["a",{"b":1}])"sv, R"("a")"sv, "1"sv, "null"sv, "{} {}"sv,
                                  R"({"a":1)"sv, ""sv, "{}\0{\"a\":"sv})
        EXPECT_EQ(fields(line), "refused") << line;
}

TEST(ReadJsonFields, AFieldRefusedRefusesTheLine) {
    EXPECT_FALSE(readJsonFields(R"({"a":1,"b":[2]})", [](const std::string& key, JsonField) { return key != "b"; }));
}

}  // namespace
}  // namespace tevoli

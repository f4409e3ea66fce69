#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tevoli {

// One compact JSON object of the servers' replies, written field by field in the
// order given. Strings take the replies' escaping ("/" as "\/"); an unset optional
// is left out, never written as null.
class JsonObjectWriter {
public:
    JsonObjectWriter& add(std::string_view key, bool value);
    JsonObjectWriter& add(std::string_view key, std::int64_t value);
    JsonObjectWriter& add(std::string_view key, std::string_view text);
    JsonObjectWriter& add(std::string_view key, const char* text) { return add(key, std::string_view(text)); }
    template <typename T>
    JsonObjectWriter& add(std::string_view key, const std::optional<T>& value) {
        return value ? add(key, *value) : *this;
    }
    // A value already written as JSON.
    JsonObjectWriter& addJson(std::string_view key, std::string_view json);

    std::string text() const { return out_ + "}"; }

private:
    std::string out_ = "{";
};

}  // namespace tevoli

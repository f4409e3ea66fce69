#include "json_fields.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace tevoli {
namespace {

class FieldReader : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit FieldReader(const std::function<bool(const std::string&, JsonField)>& field) : field_(field) {}

    bool null() override { return scalar(nullptr); }
    bool boolean(bool) override { return scalar(JsonOther{}); }
    bool number_integer(number_integer_t value) override { return scalar(static_cast<std::int64_t>(value)); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<std::uint64_t>(INT64_MAX)) return scalar(JsonOther{});
        return scalar(static_cast<std::int64_t>(value));
    }
    bool number_float(number_float_t value, const string_t& literal) override {
        // 1.0 and 1e3 are whole numbers; 1.5 and values beyond 64 bits are not. An integer
        // literal only arrives here when it overflowed, even if its double rounds to -2^63.
        const bool integerLiteral = literal.find_first_of(".eE") == string_t::npos;
        if (!integerLiteral && std::isfinite(value) && value == std::trunc(value) && value >= -0x1p63 &&
            value < 0x1p63)
            return scalar(static_cast<std::int64_t>(value));
        return scalar(JsonOther{});
    }
    bool string(string_t& value) override { return scalar(&value); }
    bool binary(binary_t&) override { return scalar(JsonOther{}); }

    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override { return depth_ > 0 && open(); }  // the line must be an object
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        if (depth_ == 1) key_ = name;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool open() {
        if (depth_ == 1 && !field_(key_, JsonContainer{})) return false;
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        return true;
    }
    bool scalar(JsonField value) {
        if (depth_ == 0) return false;  // a bare scalar is not an object
        return depth_ > 1 || field_(key_, value);
    }

    const std::function<bool(const std::string&, JsonField)>& field_;
    std::size_t depth_ = 0;
    std::string key_;
};

}  // namespace

bool readJsonFields(std::string_view text, const std::function<bool(const std::string& key, JsonField value)>& field) {
    // The parser takes a NUL byte for the end of the text, and would leave what follows unread.
    if (text.find('\0') != std::string_view::npos) return false;
    FieldReader reader(field);
    return nlohmann::json::sax_parse(text.begin(), text.end(), &reader);
}

bool takeText(std::optional<std::string>& target, const JsonField& value) {
    if (auto* text = std::get_if<std::string*>(&value)) {
        target = std::move(**text);
        return true;
    }
    target.reset();
    return std::holds_alternative<std::nullptr_t>(value);
}

}  // namespace tevoli

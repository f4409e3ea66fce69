#include "asr_protocol.h"

#include <cmath>
#include <variant>

#include <nlohmann/json.hpp>

#include "json_string.h"
#include "utf8.h"

namespace tevoli::asr {

Reply Reply::failure(std::string error) {
    Reply reply;
    reply.error = std::move(error);
    return reply;
}

namespace {

// Builds a Request from the SAX events of one line. Values nested below the top
// object are skipped without being stored, so a deeply nested unknown key costs
// no memory beyond the parser's own stack of bits.
class RequestReader : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit RequestReader(Request& request) : request_(request) {}

    bool sawOp() const { return sawOp_; }

    bool null() override { return scalar(Null{}); }
    bool boolean(bool) override { return scalar(Other{}); }
    bool number_integer(number_integer_t value) override { return scalar(static_cast<std::int64_t>(value)); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<std::uint64_t>(INT64_MAX)) return scalar(Other{});
        return scalar(static_cast<std::int64_t>(value));
    }
    bool number_float(number_float_t value, const string_t& literal) override {
        // 1.0 and 1e3 are whole numbers; 1.5 and values beyond 64 bits are not. An integer
        // literal only arrives here when it overflowed, even if its double rounds to -2^63.
        const bool integerLiteral = literal.find_first_of(".eE") == string_t::npos;
        if (!integerLiteral && std::isfinite(value) && value == std::trunc(value) && value >= -0x1p63 &&
            value < 0x1p63)
            return scalar(static_cast<std::int64_t>(value));
        return scalar(Other{});
    }
    bool string(string_t& value) override { return scalar(&value); }
    bool binary(binary_t&) override { return scalar(Other{}); }

    bool start_object(std::size_t) override {
        if (depth_ == 1 && !containerAllowed()) return false;
        ++depth_;
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth_ == 0) return false;  // the line must be an object
        if (depth_ == 1 && !containerAllowed()) return false;
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) key_ = name;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    struct Null {};
    struct Other {};
    using Value = std::variant<Null, Other, std::int64_t, std::string*>;

    // An object or array is acceptable inside the request only under an unknown key.
    bool containerAllowed() const { return !isKnownKey(key_); }

    static bool isKnownKey(const std::string& key) {
        return key == "op" || key == "stream" || key == "locale" || key == "pcm" || key == "offset_ms";
    }

    bool scalar(Value value) {
        if (depth_ == 0) return false;  // a bare scalar is not an object
        if (depth_ > 1 || !isKnownKey(key_)) return true;
        const bool isNull = std::holds_alternative<Null>(value);  // null means absent
        auto* number = std::get_if<std::int64_t>(&value);
        auto* text = std::get_if<std::string*>(&value);
        if (key_ == "offset_ms") {
            if (!isNull && number == nullptr) return false;
            request_.offset_ms = isNull ? std::nullopt : std::optional(*number);
        } else if (key_ == "op") {
            if (!isNull && text == nullptr) return false;
            sawOp_ = !isNull;
            if (text != nullptr) request_.op = std::move(**text);
        } else {
            std::optional<std::string>& field =
                key_ == "stream" ? request_.stream : (key_ == "locale" ? request_.locale : request_.pcm);
            if (!isNull && text == nullptr) return false;
            field = isNull ? std::nullopt : std::optional(std::move(**text));
        }
        return true;
    }

    Request& request_;
    std::size_t depth_ = 0;
    std::string key_;
    bool sawOp_ = false;
};

void appendString(std::string& out, std::string_view text) { out += jsonString(text, JsonStringForm::reply); }

void appendKey(std::string& out, std::string_view key) {
    out += out.back() == '{' ? "\"" : ",\"";
    out += key;
    out += "\":";
}

void appendSeg(std::string& out, const Seg& seg) {
    out += '{';
    appendKey(out, "t0_ms");
    out += std::to_string(seg.t0_ms);
    appendKey(out, "t1_ms");
    out += std::to_string(seg.t1_ms);
    appendKey(out, "text");
    appendString(out, seg.text);
    if (seg.speaker) {
        appendKey(out, "speaker");
        appendString(out, *seg.speaker);
    }
    out += '}';
}

}  // namespace

std::optional<Request> decodeRequest(std::string_view text) {
    Request request;
    RequestReader reader(request);
    const bool parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &reader,
                                                  nlohmann::json::input_format_t::json, true);
    if (!parsed || !reader.sawOp()) return std::nullopt;
    return request;
}

std::string encodeReply(const Reply& reply) {
    std::string out = "{";
    appendKey(out, "ok");
    out += reply.ok ? "true" : "false";
    if (reply.available) {
        appendKey(out, "available");
        out += *reply.available ? "true" : "false";
    }
    if (reply.reason) {
        appendKey(out, "reason");
        appendString(out, *reply.reason);
    }
    if (reply.downloaded) {
        appendKey(out, "downloaded");
        out += *reply.downloaded ? "true" : "false";
    }
    if (reply.segments) {
        appendKey(out, "segments");
        out += '[';
        for (std::size_t i = 0; i < reply.segments->size(); ++i) {
            if (i > 0) out += ',';
            appendSeg(out, (*reply.segments)[i]);
        }
        out += ']';
    }
    if (reply.error) {
        appendKey(out, "error");
        appendString(out, *reply.error);
    }
    return out + "}";
}

}  // namespace tevoli::asr

#include "llm_protocol.h"

#include <nlohmann/json.hpp>

#include "json_string.h"
#include "utf8.h"

namespace tevoli::llm {

Reply Reply::failure(std::string error, std::string code) {
    Reply reply;
    reply.error = std::move(error);
    reply.code = std::move(code);
    return reply;
}

namespace {

// Reads the request from the parser's events. Only the top object's known fields are
// kept; anything else, however large or deeply nested, is skipped without being stored.
class RequestReader : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit RequestReader(Request& request) : request_(request) {}
    bool sawOp() const { return sawOp_; }

    bool null() override { return value(nullptr); }
    bool boolean(bool) override { return other(); }
    bool number_integer(number_integer_t) override { return other(); }
    bool number_unsigned(number_unsigned_t) override { return other(); }
    bool number_float(number_float_t, const string_t&) override { return other(); }
    bool string(string_t& text) override { return value(&text); }
    bool binary(binary_t&) override { return other(); }
    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override { return depth_ > 0 && open(); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        if (depth_ != 1) return true;
        field_ = name == "op" ? &op_ : name == "system" ? &request_.system : name == "user" ? &request_.user : nullptr;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    // A container is a wrong type for every known field.
    bool open() {
        if (depth_ == 1 && field_ != nullptr) return false;
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        return true;
    }
    bool other() { return depth_ > 1 || (depth_ == 1 && field_ == nullptr); }
    // Known fields are strings, or null for absent.
    bool value(string_t* text) {
        if (depth_ != 1 || field_ == nullptr) return depth_ > 0;
        *field_ = text ? std::optional(std::move(*text)) : std::nullopt;
        if (field_ == &op_) {
            sawOp_ = op_.has_value();
            request_.op = op_.value_or("");
        }
        return true;
    }

    Request& request_;
    std::optional<std::string> op_;
    std::optional<std::string>* field_ = nullptr;
    std::size_t depth_ = 0;
    bool sawOp_ = false;
};

void appendField(std::string& out, const char* key, const std::optional<std::string>& value) {
    if (value) out.append(",\"").append(key).append("\":").append(jsonString(*value, JsonStringForm::reply));
}

}  // namespace

std::optional<Request> decodeRequest(std::string_view text) {
    Request request;
    RequestReader reader(request);
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reader) || !reader.sawOp()) return std::nullopt;
    return request;
}

std::string encodeReply(const Reply& reply) {
    std::string out = reply.ok ? "{\"ok\":true" : "{\"ok\":false";
    if (reply.available) out += *reply.available ? ",\"available\":true" : ",\"available\":false";
    appendField(out, "reason", reply.reason);
    appendField(out, "content", reply.content);
    appendField(out, "error", reply.error);
    appendField(out, "code", reply.code);
    out += '}';
    return out;
}

}  // namespace tevoli::llm

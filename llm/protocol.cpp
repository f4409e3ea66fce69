#include "protocol.h"

#include <nlohmann/json.hpp>

#include "json_string.h"
#include "utf8.h"

namespace tevoli::llm {
namespace {

// Reads an optional string field: missing and null are absent, any other type is an error.
bool readOptionalString(const nlohmann::json& object, const char* key, std::optional<std::string>& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return true;
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

void appendField(std::string& out, const char* key, const std::optional<std::string>& value) {
    if (value) out.append(",\"").append(key).append("\":").append(jsonString(*value, JsonStringForm::reply));
}

}  // namespace

std::optional<Request> decodeRequest(std::string_view text) {
    const auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return std::nullopt;  // a parse error is a discarded value, no object
    const auto op = json.find("op");
    if (op == json.end() || !op->is_string()) return std::nullopt;
    Request request{op->get<std::string>(), {}, {}};
    if (!readOptionalString(json, "system", request.system) || !readOptionalString(json, "user", request.user)) {
        return std::nullopt;
    }
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

#include "protocol.h"

#include <nlohmann/json.hpp>

#include "json_string.h"
#include "utf8.h"

namespace tevoli::llm {
namespace {

// White space and line breaks as the host's platform counts them (Zs, tab, line breaks).
bool isUnicodeSpace(char32_t c) {
    return c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Reads an optional string field: missing and null are absent, any other type is an error.
bool readOptionalString(const nlohmann::json& object, const char* key, std::optional<std::string>& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return true;
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

// A JSON string literal with the solidus escaped too, as the host's encoder writes it.
std::string replyString(std::string_view text) {
    std::string literal = jsonString(text);
    std::string out;
    out.reserve(literal.size());
    for (const char c : literal) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

void appendField(std::string& out, const char* key, const std::optional<std::string>& value) {
    if (value) out.append(",\"").append(key).append("\":").append(replyString(*value));
}

}  // namespace

std::string trimmedLine(std::string_view raw) {
    const std::string text = toValidUtf8(raw);
    const std::string_view view = text;
    std::size_t begin = std::string::npos, end = 0, at = 0;
    while (at < view.size()) {
        char32_t c = 0;
        std::size_t bad = 0;
        const std::size_t length = decodeOneUtf8(view.substr(at), c, bad);  // well-formed by now
        if (!isUnicodeSpace(c)) {
            if (begin == std::string::npos) begin = at;
            end = at + length;
        }
        at += length;
    }
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin);
}

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

#include "llm_protocol.h"

#include "json_fields.h"
#include "json_string.h"

namespace tevoli::llm {

Reply Reply::failure(std::string error, std::string code) {
    Reply reply;
    reply.error = std::move(error);
    reply.code = std::move(code);
    return reply;
}

namespace {

void appendField(std::string& out, const char* key, const std::optional<std::string>& value) {
    if (value) out.append(",\"").append(key).append("\":").append(jsonString(*value, JsonStringForm::reply));
}

}  // namespace

std::optional<Request> decodeRequest(std::string_view text) {
    return readJsonRequest<Request>(text, [](Request& request, const std::string& key, JsonField value) {
        if (key == "system") return takeText(request.system, value);
        if (key == "user") return takeText(request.user, value);
        return true;  // unknown keys may hold anything
    });
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

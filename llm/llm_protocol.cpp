#include "llm_protocol.h"

#include "json_fields.h"
#include "json_object_writer.h"

namespace tevoli::llm {

Reply Reply::failure(std::string error, std::string code) {
    Reply reply;
    reply.error = std::move(error);
    reply.code = std::move(code);
    return reply;
}

std::optional<Request> decodeRequest(std::string_view text) {
    return readJsonRequest<Request>(text, [](Request& request, const std::string& key, JsonField value) {
        if (key == "system") return takeText(request.system, value);
        if (key == "user") return takeText(request.user, value);
        return true;  // unknown keys may hold anything
    });
}

std::string encodeReply(const Reply& reply) {
    return JsonObjectWriter().add("ok", reply.ok).add("available", reply.available).add("reason", reply.reason)
        .add("content", reply.content).add("error", reply.error).add("code", reply.code).text();
}

}  // namespace tevoli::llm

#include "asr_protocol.h"

#include <variant>

#include "json_fields.h"
#include "json_object_writer.h"

namespace tevoli::asr {

Reply Reply::failure(std::string error) {
    Reply reply;
    reply.error = std::move(error);
    return reply;
}

namespace {

std::string encodeSeg(const Seg& seg) {
    return JsonObjectWriter().add("t0_ms", seg.t0_ms).add("t1_ms", seg.t1_ms).add("text", seg.text)
        .add("speaker", seg.speaker).text();
}

}  // namespace

std::optional<Request> decodeRequest(std::string_view text) {
    return readJsonRequest<Request>(text, [](Request& request, const std::string& key, JsonField value) {
        if (key == "stream") return takeText(request.stream, value);
        if (key == "locale") return takeText(request.locale, value);
        if (key == "pcm") return takeText(request.pcm, value);
        if (key != "offset_ms") return true;  // unknown keys may hold anything
        auto* number = std::get_if<std::int64_t>(&value);
        request.offset_ms = number ? std::optional(*number) : std::nullopt;
        return number != nullptr || std::holds_alternative<std::nullptr_t>(value);
    });
}

std::string encodeReply(const Reply& reply) {
    JsonObjectWriter out;
    out.add("ok", reply.ok).add("available", reply.available).add("reason", reply.reason);
    out.add("downloaded", reply.downloaded);
    if (reply.segments) {
        std::string list = "[";
        for (const Seg& seg : *reply.segments) list += (list.size() > 1 ? "," : "") + encodeSeg(seg);
        out.addJson("segments", list + "]");
    }
    return out.add("error", reply.error).text();
}

}  // namespace tevoli::asr

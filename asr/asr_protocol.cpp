#include "asr_protocol.h"

#include <variant>

#include "json_fields.h"
#include "json_string.h"

namespace tevoli::asr {

Reply Reply::failure(std::string error) {
    Reply reply;
    reply.error = std::move(error);
    return reply;
}

namespace {

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

#include "apple_llm_helper.h"

#include <array>
#include <new>

#include "utf8.h"

namespace tevoli::llm {
namespace {

const char* const kOtherCode = "other";
const char* const kEncodeFailed = R"({"ok":false,"error":"encode failed","code":"other"})";

std::string reasonText(ModelState state) {
    switch (state) {
        case ModelState::available: break;
        case ModelState::deviceNotEligible: return "This device doesn't support Apple Intelligence";
        case ModelState::appleIntelligenceNotEnabled:
            return "Turn on Apple Intelligence: System Settings \u2192 Apple Intelligence & Siri, then switch "
                   "it on. A multi-GB on-device model downloads afterward.";
        case ModelState::modelNotReady:
            return "Apple Intelligence is on \u2014 its on-device model is still downloading. This becomes "
                   "available once it finishes.";
        case ModelState::otherReason: break;
    }
    return "Apple Intelligence isn't available";
}

Reply failure(std::string error, std::string code = kOtherCode) {
    Reply reply;
    reply.error = std::move(error);
    reply.code = std::move(code);
    return reply;
}

}  // namespace

Availability AppleLLMHelper::availability() {
    const ModelState state = model_.availability();
    if (state == ModelState::available) return {true, std::nullopt};
    return {false, reasonText(state)};
}

Reply AppleLLMHelper::generate(const std::string& system, const std::string& user) {
    Generation generation = model_.generate(system, user);
    switch (generation.kind) {
        case Generation::Kind::answered: {
            Reply reply;
            reply.ok = true;
            reply.content = std::move(generation.text);
            return reply;
        }
        case Generation::Kind::contextExceeded: return failure("context window exceeded", "context_exceeded");
        case Generation::Kind::failed: break;
    }
    return failure(std::move(generation.text));
}

Reply AppleLLMHelper::status(const Request&) {
    Availability state = availability();
    Reply reply;
    reply.ok = true;
    reply.available = state.available;
    reply.reason = std::move(state.reason);
    return reply;
}

Reply AppleLLMHelper::generateFor(const Request& request) {
    return generate(request.system.value_or(""), request.user.value_or(""));
}

std::optional<Reply> AppleLLMHelper::respond(const Line& line) {
    if (line.tooLong) return failure("request too long");
    const std::string text = trimmedUtf8(line.text);
    if (text.empty()) return std::nullopt;
    const std::optional<Request> request = decodeRequest(text);
    if (!request) return failure("bad request");

    using Handler = Reply (AppleLLMHelper::*)(const Request&);
    static const std::array<std::pair<std::string_view, Handler>, 2> operations{{
        {"status", &AppleLLMHelper::status},
        {"generate", &AppleLLMHelper::generateFor},
    }};
    for (const auto& [name, handler] : operations) {
        if (request->op == name) return (this->*handler)(*request);
    }
    return failure("unknown op: " + request->op);
}

void AppleLLMHelper::serve(const NextLine& next, const WriteBytes& write) {
    while (const std::optional<Line> line = next()) {
        if (const std::optional<Reply> reply = respond(*line)) emit(*reply, write);
    }
}

void AppleLLMHelper::emit(const Reply& reply, const WriteBytes& write) {
    std::string json;
    try {
        json = encodeReply(reply);
    } catch (const std::bad_alloc&) {
        json = kEncodeFailed;  // still one line for the request
    }
    write(json);
    write("\n");
}

}  // namespace tevoli::llm

#include "apple_llm_helper.h"

#include <string_view>
#include <utility>

namespace tevoli::llm {
namespace {

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

}  // namespace

Reply AppleLLMHelper::handle(const Request& request) {
    static constexpr std::pair<std::string_view, Reply (AppleLLMHelper::*)(const Request&)> kOperations[] = {
        {"status", &AppleLLMHelper::status},
        {"generate", &AppleLLMHelper::generate},
    };
    for (const auto& [name, operation] : kOperations)
        if (request.op == name) return (this->*operation)(request);
    return Reply::failure("unknown op: " + request.op);
}

// Asked afresh each time: a model that finishes loading is reported at once.
Reply AppleLLMHelper::status(const Request&) {
    const ModelState state = model_.availability();
    Reply reply;
    reply.ok = true;
    reply.available = state == ModelState::available;
    if (state != ModelState::available) reply.reason = reasonText(state);
    return reply;
}

Reply AppleLLMHelper::generate(const Request& request) {
    Generation generation = model_.generate(request.system.value_or(""), request.user.value_or(""));
    switch (generation.kind) {
        case Generation::Kind::answered: {
            Reply reply;
            reply.ok = true;
            reply.content = std::move(generation.text);
            return reply;
        }
        case Generation::Kind::contextExceeded: return Reply::failure("context window exceeded", "context_exceeded");
        case Generation::Kind::failed: break;
    }
    return Reply::failure(std::move(generation.text));
}

LineServer AppleLLMHelper::lineServer() {
    return jsonLinesServer(kMaxRequestLine, decodeRequest, [this](const Request& request) { return handle(request); },
                           encodeReply, kEncodeFailedLine);
}

}  // namespace tevoli::llm

#include "openai_api.h"

#include <optional>

#include <nlohmann/json.hpp>

#include "utf8.h"

namespace tevoli::llm {
namespace {

using nlohmann::json;

constexpr long kServiceUnavailable = 503;

Generation failed(std::string text) { return {Generation::Kind::failed, std::move(text)}; }

// The body as JSON, or discarded. Ill-formed UTF-8 is read as U+FFFD, so one bad
// byte in an answer does not cost the whole answer.
json bodyOf(const HttpResult& result) { return json::parse(toValidUtf8(result.body), nullptr, false); }

std::string stringAt(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Only the servers' own answers to a prompt longer than the context: llama.cpp names
// the case by its type, OpenAI-style servers by their code, older llama.cpp servers and
// vLLM only in these words. Any other error about the context (one the server could not
// allocate, say) is the model's own failure: the prompt is not to blame.
bool exceedsContext(const std::string& type, const std::string& code, const std::string& message) {
    if (type == "exceed_context_size_error" || code == "context_length_exceeded") return true;
    return message.find("exceeds the available context size") != std::string::npos ||
           message.find("maximum context length") != std::string::npos;
}

// An HTTP error answer: the server's own message when it gives one.
Generation errorFrom(const HttpResult& result) {
    const json body = bodyOf(result);
    std::string type, code, message;
    if (body.is_object()) {
        const auto error = body.find("error");
        if (error != body.end() && error->is_object()) {
            type = stringAt(*error, "type");
            code = stringAt(*error, "code");
            message = stringAt(*error, "message");
        } else if (error != body.end() && error->is_string()) {
            message = error->get<std::string>();
        }
    }
    if (exceedsContext(type, code, message)) return {Generation::Kind::contextExceeded, message};
    if (message.empty()) message = "the model server answered HTTP " + std::to_string(result.status);
    return failed(message);
}

ModelState stateOf(Listing::Kind kind) {
    switch (kind) {
        case Listing::Kind::models: return ModelState::available;
        case Listing::Kind::loading: return ModelState::modelNotReady;
        case Listing::Kind::unusable: return ModelState::otherReason;
        case Listing::Kind::absent: break;
    }
    return ModelState::appleIntelligenceNotEnabled;
}

}  // namespace

Listing listingFrom(const HttpResult& result) {
    if (!result.delivered) {
        return {result.refused ? Listing::Kind::absent : Listing::Kind::unusable, {}, failed(result.error)};
    }
    if (result.status == kServiceUnavailable) return {Listing::Kind::loading, {}, errorFrom(result)};
    if (result.status != 200) return {Listing::Kind::unusable, {}, errorFrom(result)};
    const json body = bodyOf(result);
    const auto data = body.is_object() ? body.find("data") : body.end();
    if (!body.is_object() || data == body.end() || !data->is_array()) {
        return {Listing::Kind::unusable, {}, failed("the server at this address lists no models")};
    }
    if (data->empty()) return {Listing::Kind::loading, {}, failed("the model server has no model loaded")};
    const std::string model = data->front().is_object() ? stringAt(data->front(), "id") : std::string();
    if (model.empty()) return {Listing::Kind::unusable, {}, failed("the model server lists a model without a name")};
    return {Listing::Kind::models, model, {}};
}

Discovery discoverServer(const HttpGet& get) {
    Discovery best;
    std::optional<Listing::Kind> bestKind;
    for (const std::string_view address : kServerAddresses) {
        Listing listing = listingFrom(get(std::string(address) + "/v1/models"));
        if (listing.kind == Listing::Kind::models) {
            return {ModelState::available, std::string(address), std::move(listing.model), {}};
        }
        if (bestKind && listing.kind <= *bestKind) continue;
        bestKind = listing.kind;
        best = {stateOf(listing.kind), std::string(address), {}, std::move(listing.failure)};
    }
    return best;
}

std::string chatRequestBody(const std::string& model, const std::string& system, const std::string& user) {
    const json body = {
        {"model", model},
        {"messages", json::array({{{"role", "system"}, {"content", system}}, {{"role", "user"}, {"content", user}}})},
    };
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

Generation generationFrom(const HttpResult& result) {
    if (!result.delivered) return failed(result.error);
    if (result.status != 200) return errorFrom(result);
    const json body = bodyOf(result);
    try {
        const json& content = body.at("choices").at(0).at("message").at("content");
        if (content.is_string()) return {Generation::Kind::answered, content.get<std::string>()};
    } catch (const json::exception&) {
        // not the answer's shape: maybe an error object
    }
    if (body.is_object() && body.contains("error")) return errorFrom(result);
    return failed("the model server sent an answer without text");
}

}  // namespace tevoli::llm

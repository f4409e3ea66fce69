#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "model_service.h"

namespace tevoli::llm {

// One exchange with a model server: an HTTP status and body, or a transport failure.
struct HttpResult {
    bool delivered = false;  // false: no HTTP answer, `error` says why
    bool refused = false;    // nothing listens at the address
    long status = 0;
    std::string body;
    std::string error;
};

// What one server's model listing says, and for `generate` what to report when the
// server cannot be used.
struct Listing {
    // In rising order of promise.
    enum class Kind { absent, unusable, loading, models };
    Kind kind = Kind::absent;
    std::string model;   // the first model listed, for `models`
    Generation failure;  // for every other kind
};

// Reads the answer to GET /v1/models.
Listing listingFrom(const HttpResult& result);

// The well-known loopback addresses of the local model runtimes, in the order tried.
inline constexpr std::string_view kServerAddresses[] = {
    "http://127.0.0.1:8080", "http://127.0.0.1:11434", "http://127.0.0.1:1234"};

// The server to use: the first address whose listing names a model. Without one, the
// state of the most promising answer (loading before unusable before none) and the
// failure to report for a prompt.
struct Discovery {
    ModelState state = ModelState::appleIntelligenceNotEnabled;
    std::string address;
    std::string model;
    Generation failure;
};
using HttpGet = std::function<HttpResult(const std::string& url)>;
Discovery discoverServer(const HttpGet& get);

// The body of POST /v1/chat/completions: the two messages and nothing else, so the
// server's own sampling defaults apply.
std::string chatRequestBody(const std::string& model, const std::string& system, const std::string& user);

// Reads the answer to POST /v1/chat/completions.
Generation generationFrom(const HttpResult& result);

}  // namespace tevoli::llm

#include "linux_model_service.h"

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>

#include "openai_api.h"

namespace tevoli::llm {
namespace {

// A listing is instant on a healthy server; one that hangs must not hang "status".
constexpr long kListingTimeoutMs = 10000;
// Loopback refuses at once; this only bounds a connect that is neither taken nor refused.
constexpr long kConnectTimeoutMs = 5000;
// Far beyond any model's answer; keeps a runaway server from exhausting memory.
constexpr std::size_t kMaxAnswerBytes = 64u << 20;

const char* const kNoRequest = "could not start an HTTP request";

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Headers = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

struct Received {
    std::string body;
    bool tooLarge = false;
};

size_t receive(char* data, size_t size, size_t count, void* user) {
    auto& received = *static_cast<Received*>(user);
    const size_t bytes = size * count;
    if (received.body.size() + bytes > kMaxAnswerBytes) {
        received.tooLarge = true;
        return 0;  // makes curl stop the transfer
    }
    received.body.append(data, bytes);
    return bytes;
}

bool appendHeader(Headers& headers, const char* header) {
    curl_slist* head = curl_slist_append(headers.get(), header);
    if (!head) return false;
    static_cast<void>(headers.release());  // now part of the list that `head` starts
    headers.reset(head);
    return true;
}

// One HTTP exchange; a POST when `body` is given. No time limit when `timeoutMs` is 0.
HttpResult exchange(const std::string& url, const std::optional<std::string>& body, long timeoutMs) {
    HttpResult result;
    // Declared before the handle, which uses them until it is cleaned up.
    Headers headers(nullptr, curl_slist_free_all);
    char errorText[CURL_ERROR_SIZE] = {};
    Received received;
    Easy easy(curl_easy_init(), curl_easy_cleanup);
    if (!easy) {
        result.error = kNoRequest;
        return result;
    }
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROXY, "");  // loopback never goes through a proxy
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    if (body) {
        for (const char* header : {"Content-Type: application/json", "Expect:"}) {
            if (!appendHeader(headers, header)) {
                result.error = kNoRequest;
                return result;
            }
        }
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK) {
        result.refused = code == CURLE_COULDNT_CONNECT;
        result.error = received.tooLarge ? "the model server's answer is too large"
                       : errorText[0]    ? errorText
                                         : curl_easy_strerror(code);
        return result;
    }
    result.delivered = true;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &result.status);
    result.body = std::move(received.body);
    return result;
}

Discovery discover() {
    return discoverServer([](const std::string& url) { return exchange(url, std::nullopt, kListingTimeoutMs); });
}

}  // namespace

LocalServerModel::LocalServerModel() { curl_global_init(CURL_GLOBAL_DEFAULT); }

LocalServerModel::~LocalServerModel() { curl_global_cleanup(); }

ModelState LocalServerModel::availability() { return discover().state; }

Generation LocalServerModel::generate(const std::string& system, const std::string& user) {
    Discovery server = discover();
    if (server.state != ModelState::available) return std::move(server.failure);
    // A generation takes as long as the model takes: no time limit.
    return generationFrom(
        exchange(server.address + "/v1/chat/completions", chatRequestBody(server.model, system, user), 0));
}

}  // namespace tevoli::llm

#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tevoli::llm {

// Longest request line read; a whole meeting transcript fits many times over.
inline constexpr std::size_t kMaxRequestLine = 64u << 20;

struct Request {
    std::string op;
    std::optional<std::string> system;
    std::optional<std::string> user;
};

// Fields in the order they are written; unset ones are left out.
struct Reply {
    bool ok = false;
    std::optional<bool> available;
    std::optional<std::string> reason;
    std::optional<std::string> content;
    std::optional<std::string> error;
    std::optional<std::string> code;

    static Reply failure(std::string error, std::string code = "other");
};

// Written when a reply cannot be encoded, so the host still gets one line.
inline constexpr std::string_view kEncodeFailedLine = R"({"ok":false,"error":"encode failed","code":"other"})";

// The request in `text`, which must be exactly one JSON object with a string `op`
// and `system`/`user` that are strings, null or missing; nullopt otherwise.
std::optional<Request> decodeRequest(std::string_view text);

// The reply as one compact JSON object, without the line feed.
std::string encodeReply(const Reply& reply);

}  // namespace tevoli::llm

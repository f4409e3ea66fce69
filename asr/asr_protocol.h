#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "seg.h"

namespace tevoli::asr {

// Longest request line accepted: room for about 90 s of audio in one chunk.
inline constexpr std::size_t kMaxRequestLine = 8u << 20;

// One request line, decoded.
struct Request {
    std::string op;
    std::optional<std::string> stream;
    std::optional<std::string> locale;
    std::optional<std::string> pcm;
    std::optional<std::int64_t> offset_ms;
};

// One reply line; unset fields are left out of the JSON.
struct Reply {
    bool ok = false;
    std::optional<bool> available;
    std::optional<std::string> reason;
    std::optional<bool> downloaded;
    std::optional<std::vector<Seg>> segments;
    std::optional<std::string> error;

    static Reply failure(std::string error);
};

// Written when a reply cannot be encoded, so the host still gets one line.
inline constexpr std::string_view kEncodeFailedLine = R"({"ok":false,"error":"encode failed"})";

// Exactly one JSON object with correctly typed fields and a string `op`, or nothing.
std::optional<Request> decodeRequest(std::string_view text);

// Compact JSON, keys in declaration order, "/" written as "\/".
std::string encodeReply(const Reply& reply);

}  // namespace tevoli::asr

#pragma once
#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ending.h"

namespace tevoli {

// What one JSON-lines server brings to the shared loop: its answers. The loop owns
// the framing, so both servers read, trim, refuse and write alike.
struct LineServer {
    // Longer request lines are refused without being held in memory.
    std::size_t maxLineBytes = 0;
    // The reply to one request line (valid UTF-8, trimmed, never blank), encoded as
    // one JSON object without its line feed. Never throws.
    std::function<std::string(std::string_view request)> answer;
    // The encoded reply to a line over the limit.
    std::string tooLong;
};

// A server's part in the loop, made of its own protocol: `decode` reads a request
// line (nothing when it is no request), `handle` answers a request, `encode` writes
// a reply, and `Reply::failure(text)` is a failed reply. A line that holds no
// request, an over-long one too, is a "bad request"; a request whose handling threw
// (out of memory, say) fails as "<op> failed: " and the error; only a reply that
// cannot be encoded is answered `encodeFailed`.
template <typename Request, typename Reply, typename Handle>
LineServer jsonLinesServer(std::size_t maxLineBytes, std::optional<Request> (*decode)(std::string_view),
                           Handle handle, std::string (*encode)(const Reply&), std::string_view encodeFailed) {
    auto encoded = [encode, fallback = std::string(encodeFailed)](const Reply& reply) {
        try {
            return encode(reply);
        } catch (const std::exception&) {
            return fallback;
        }
    };
    auto reply = [decode, handle](std::string_view text) -> Reply {
        std::optional<Request> request;
        try {
            request = decode(text);
            return request ? handle(*request) : Reply::failure("bad request");
        } catch (const std::exception& error) {
            return Reply::failure((request ? request->op : std::string("request")) + " failed: " + error.what());
        }
    };
    return {maxLineBytes, [encoded, reply](std::string_view text) { return encoded(reply(text)); },
            encoded(Reply::failure("bad request"))};
}

// Answers every non-blank line read from `inFd` with one line on `outFd`, one
// request at a time and in order: the reply's JSON bytes, then a separate "\n".
// Ends with status 0 when the input ends and with status 1 once the output is
// closed, since nobody is left to answer.
Ending serveJsonLines(int inFd, int outFd, const LineServer& server);

}  // namespace tevoli

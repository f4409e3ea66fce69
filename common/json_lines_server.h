#pragma once
#include <cstddef>
#include <functional>
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
    // one JSON object without its line feed.
    std::function<std::string(std::string_view request)> answer;
    // The encoded reply to a line over the limit.
    std::string tooLong;
    // Written instead when `answer` throws (encoding ran out of memory, say), so
    // the host still gets one line for its request.
    std::string encodeFailed;
};

// Answers every non-blank line read from `inFd` with one line on `outFd`, one
// request at a time and in order: the reply's JSON bytes, then a separate "\n".
// Ends with status 0 when the input ends and with status 1 once the output is
// closed, since nobody is left to answer.
Ending serveJsonLines(int inFd, int outFd, const LineServer& server);

}  // namespace tevoli

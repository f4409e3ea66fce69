#include "serve_loop.h"

#include <string>
#include <string_view>

#include "line_reader.h"
#include "utf8.h"
#include "write_all.h"

namespace tevoli::asr {

namespace {

// The reply to one non-blank line. Whatever happens inside, the host gets a line.
Reply answer(Runner& runner, const std::string& text) {
    const auto request = decodeRequest(text);
    if (!request) return Reply::failure("bad request");
    try {
        return runner.handle(*request);
    } catch (const std::exception&) {
        return Reply::failure("no result");
    }
}

}  // namespace

bool emit(int outFd, const Reply& reply) {
    std::string json;
    try {
        json = encodeReply(reply);
    } catch (const std::exception&) {
        json = kEncodeFailedLine;
    }
    return writeAll(outFd, json) && writeAll(outFd, "\n");
}

bool serveLoop(int inFd, int outFd, Runner& runner) {
    LineReader reader(inFd, kMaxRequestLine);
    while (const auto line = reader.next()) {
        if (line->tooLong) {
            if (!emit(outFd, Reply::failure("request too long"))) return false;
            continue;
        }
        const std::string text = trimmedUtf8(line->text);
        if (text.empty()) continue;
        if (!emit(outFd, answer(runner, text))) return false;
    }
    return true;
}

}  // namespace tevoli::asr

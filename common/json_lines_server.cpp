#include "json_lines_server.h"

#include "line_reader.h"
#include "utf8.h"
#include "write_all.h"

namespace tevoli {

Ending serveJsonLines(int inFd, int outFd, const LineServer& server) {
    LineReader reader(inFd, server.maxLineBytes);
    while (const auto line = reader.next()) {
        std::string reply;
        if (line->tooLong) {
            reply = server.tooLong;
        } else {
            const std::string request = trimmedUtf8(line->text);
            if (request.empty()) continue;
            reply = server.answer(request);
        }
        if (!writeAll(outFd, reply) || !writeAll(outFd, "\n")) return Ending{1, {}, {}};
    }
    return Ending{};
}

}  // namespace tevoli

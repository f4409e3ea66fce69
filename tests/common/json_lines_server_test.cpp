#include "json_lines_server.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <thread>

namespace tevoli {
namespace {

// A server that echoes each request between brackets; "throw" fails in its
// handling, and a reply of "unencodable" cannot be encoded.
struct Echo {
    std::string op;
};
struct EchoReply {
    std::string text;
    static EchoReply failure(std::string error) { return {"!" + error}; }
};
std::optional<Echo> decodeEcho(std::string_view text) {
    return text == "?" ? std::nullopt : std::optional(Echo{std::string(text)});
}
std::string encodeEcho(const EchoReply& reply) {
    if (reply.text == "unencodable") throw std::length_error("too big");
    return "[" + reply.text + "]";
}

LineServer echo(std::size_t maxLineBytes) {
    return jsonLinesServer(
        maxLineBytes, decodeEcho,
        [](const Echo& request) {
            if (request.op == "throw") throw std::runtime_error("no memory");
            return EchoReply{request.op};
        },
        encodeEcho, "<encode failed>");
}

std::string times(int count, std::string_view text) {
    std::string out;
    while (count-- > 0) out += text;
    return out;
}

// Runs the loop over `input`, arriving 7 bytes at a time (one packet a read) so that
// lines straddle reads; returns what the loop wrote (into a closed pipe when
// `closedOutput`) and how it ended.
std::pair<std::string, Ending> serve(const std::string& input, const LineServer& server, bool closedOutput = false) {
    int fds[2], closed[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    EXPECT_EQ(pipe(closed), 0);
    close(closed[0]);
    std::thread writer([&] {
        for (std::size_t at = 0; at < input.size(); at += 7)
            EXPECT_GT(write(fds[1], input.data() + at, std::min<std::size_t>(7, input.size() - at)), 0);
        close(fds[1]);
    });
    const int out = memfd_create("out", 0);
    const Ending ending = serveJsonLines(fds[0], closedOutput ? closed[1] : out, server);
    writer.join();
    std::string written(static_cast<std::size_t>(lseek(out, 0, SEEK_END)), '\0');
    EXPECT_EQ(pread(out, written.data(), written.size(), 0), static_cast<ssize_t>(written.size()));
    for (const int fd : {fds[0], out, closed[1]}) close(fd);
    return {written, ending};
}

TEST(JsonLinesServer, OneReplyPerNonBlankLineInOrder) {
    const std::string input =
        " \t\r\n\n\x0b\x0c\n{\"op\":1}\r\n"
        // Unicode white space and line breaks around a request are trimmed, a zero-width space is none.
        "\xc2\xa0\xe2\x80\xa8 x y\xe2\x80\x83\xe3\x80\x80\xc2\x85\n\xe2\x80\x8bz\n"
        "a\xff\xc3\n"  // ill-formed UTF-8 reaches the server as U+FFFD
        "?\nthrow\nunencodable\n" +
        // Over the limit: blank ones, however long, are no requests; others are bad ones.
        times(1000, " ") + "\n" + times(1000, "z") + "\n" + times(24, "z") + "\n" + times(300, "\xe3\x80\x80") +
        "\n" + times(25, "z");  // unended
    const auto [written, ending] = serve(input, echo(24));
    EXPECT_EQ(written, "[{\"op\":1}]\n[x y]\n[\u200bz]\n[a\uFFFD\uFFFD]\n[!bad request]\n[!throw failed: no memory]\n"
                       "<encode failed>\n[!bad request]\n[" + times(24, "z") + "]\n[!bad request]\n");
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(serve("last", echo(24)).first, "[last]\n");  // the last line may lack its line feed
    EXPECT_EQ(serve("", echo(24)).first, "");
}

TEST(JsonLinesServer, EndsWithStatus1WhenTheOutputIsClosed) {
    std::signal(SIGPIPE, SIG_IGN);
    int answered = 0;
    const LineServer counting{16, [&](std::string_view) { return std::to_string(++answered); }, ""};
    EXPECT_EQ(serve("a\nb\n", counting, true).second.status, 1);
    EXPECT_EQ(answered, 1);  // nobody is left to answer
}

}  // namespace
}  // namespace tevoli

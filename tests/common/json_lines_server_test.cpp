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

// A server that echoes each request between brackets and fails on "throw".
LineServer echo(std::size_t maxLineBytes) {
    return {maxLineBytes,
            [](std::string_view request) -> std::string {
                if (request == "throw") throw std::runtime_error("no memory");
                return "[" + std::string(request) + "]";
            },
            "<too long>", "<encode failed>"};
}

// Runs the loop over `input`, arriving 7 bytes at a time (one packet a read) so that
// lines straddle reads; returns what the loop wrote and how it ended.
std::pair<std::string, Ending> serve(const std::string& input, const LineServer& server) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    std::thread writer([&] {
        for (std::size_t at = 0; at < input.size(); at += 7)
            EXPECT_GT(write(fds[1], input.data() + at, std::min<std::size_t>(7, input.size() - at)), 0);
        close(fds[1]);
    });
    const int out = memfd_create("out", 0);
    const Ending ending = serveJsonLines(fds[0], out, server);
    writer.join();
    std::string written(static_cast<std::size_t>(lseek(out, 0, SEEK_END)), '\0');
    EXPECT_EQ(pread(out, written.data(), written.size(), 0), static_cast<ssize_t>(written.size()));
    close(fds[0]);
    close(out);
    return {written, ending};
}

TEST(JsonLinesServer, OneReplyPerNonBlankLineInOrder) {
    const std::string input =
        " \t\r\n\n\x0b\x0c\n{\"op\":1}\r\n"
        // Unicode white space and line breaks around a request are trimmed, a zero-width space is none.
        "\xc2\xa0\xe2\x80\xa8 x y\xe2\x80\x83\xe3\x80\x80\xc2\x85\n\xe2\x80\x8bz\n"
        "a\xff\xc3\n"  // ill-formed UTF-8 reaches the server as U+FFFD
        "throw\n" +
        std::string(1000, 'z') + "\n" + std::string(24, 'z') + "\n" + std::string(25, 'z');  // over-long, unended
    const auto [written, ending] = serve(input, echo(24));
    EXPECT_EQ(written, "[{\"op\":1}]\n[x y]\n[\u200bz]\n[a\uFFFD\uFFFD]\n<encode failed>\n<too long>\n[" +
                           std::string(24, 'z') + "]\n<too long>\n");
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(serve("last", echo(24)).first, "[last]\n");  // the last line may lack its line feed
    EXPECT_EQ(serve("", echo(24)).first, "");
}

TEST(JsonLinesServer, EndsWithStatus1WhenTheOutputIsClosed) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    const int in = memfd_create("in", 0);
    ASSERT_EQ(write(in, "a\nb\n", 4), 4);
    lseek(in, 0, SEEK_SET);
    int answered = 0;
    const LineServer counting{16, [&](std::string_view) { return std::to_string(++answered); }, "", ""};
    EXPECT_EQ(serveJsonLines(in, fds[1], counting).status, 1);
    EXPECT_EQ(answered, 1);  // nobody is left to answer
    close(in);
    close(fds[1]);
}

}  // namespace
}  // namespace tevoli

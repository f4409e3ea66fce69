#include "json_lines_server.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

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

// Runs the loop over `input` held in a memory file; returns what it wrote and its ending.
std::pair<std::string, Ending> serve(const std::string& input, const LineServer& server) {
    const int in = memfd_create("in", 0), out = memfd_create("out", 0);
    EXPECT_EQ(write(in, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    lseek(in, 0, SEEK_SET);
    const Ending ending = serveJsonLines(in, out, server);
    std::string written(static_cast<std::size_t>(lseek(out, 0, SEEK_END)), '\0');
    EXPECT_EQ(pread(out, written.data(), written.size(), 0), static_cast<ssize_t>(written.size()));
    close(in);
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
        std::string(25, 'z') + "\n" + std::string(24, 'z') + "\nlast";  // the last line may lack its line feed
    const auto [written, ending] = serve(input, echo(24));
    EXPECT_EQ(written, "[{\"op\":1}]\n[x y]\n[\u200bz]\n[a\uFFFD\uFFFD]\n<encode failed>\n<too long>\n[" +
                           std::string(24, 'z') + "]\n[last]\n");
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(serve("", echo(16)).first, "");
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

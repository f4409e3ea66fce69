#include "serve_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "fake_speech_engine.h"

namespace tevoli::asr {
namespace {

// Runs the loop over `input` and returns everything it wrote.
std::string serve(const std::string& input, bool* finished = nullptr) {
    FakeSpeechEngine engine;
    Runner runner(engine, [](std::chrono::milliseconds) {});
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    const bool ok = serveLoop(fileno(in), fileno(out), runner);
    if (finished != nullptr) *finished = ok;
    std::string written(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    written.resize(std::fread(written.data(), 1, written.size(), out));
    std::fclose(in);
    std::fclose(out);
    return written;
}

TEST(ServeLoop, EmptyInputWritesNothing) {
    bool finished = false;
    EXPECT_EQ(serve("", &finished), "");
    EXPECT_TRUE(finished);
}

TEST(ServeLoop, AnswersEveryNonBlankLineInOrder) {
    std::string input = "  \n\t\r\n\r\n";
    std::string expected;
    for (int i = 0; i < 10; ++i) {
        input += i % 2 ? "{\"op\":\"status\"}\r\n" : "{\"op\":\"op" + std::to_string(i) + "\"}\n";
        expected += i % 2 ? "{\"ok\":true,\"available\":true}\n"
                          : "{\"ok\":false,\"error\":\"unknown op: op" + std::to_string(i) + "\"}\n";
    }
    EXPECT_EQ(serve(input), expected);
}

TEST(ServeLoop, BadLinesGetBadRequestAndTheLastLineNeedsNoLineFeed) {
    EXPECT_EQ(serve("nope\n{\"op\":\"status\"}{}\n{\"op\":\"status\",\"x\":{}}"),
              "{\"ok\":false,\"error\":\"bad request\"}\n{\"ok\":false,\"error\":\"bad request\"}\n"
              "{\"ok\":true,\"available\":true}\n");
}

TEST(ServeLoop, AGiganticLineIsRefusedAndTheLoopGoesOn) {
    const std::string huge = "{\"op\":\"feed\",\"pcm\":\"" + std::string(kMaxRequestLine, 'A') + "\"}\n";
    EXPECT_EQ(serve(huge + "{\"op\":\"status\"}\n"),
              "{\"ok\":false,\"error\":\"request too long\"}\n{\"ok\":true,\"available\":true}\n");
}

TEST(ServeLoop, AClosedOutputEndsTheLoop) {
    FakeSpeechEngine engine;
    Runner runner(engine);
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    ::close(out[0]);
    ASSERT_EQ(::write(in[1], "{\"op\":\"status\"}\n", 16), 16);
    ::close(in[1]);
    std::signal(SIGPIPE, SIG_IGN);
    EXPECT_FALSE(serveLoop(in[0], out[1], runner));
    ::close(in[0]);
    ::close(out[1]);
}

}  // namespace
}  // namespace tevoli::asr

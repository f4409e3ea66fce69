#include "runner.h"

#include <gtest/gtest.h>

#include "fake_speech_engine.h"
#include "pcm.h"

namespace tevoli::asr {
namespace {

std::string pcmOf(const std::vector<float>& samples) {
    return base64(std::string_view(reinterpret_cast<const char*>(samples.data()), samples.size() * 4));
}

class RunnerTest : public ::testing::Test {
protected:
    FakeSpeechEngine engine;
    Runner runner{engine, [](std::chrono::milliseconds) {}};

    std::string reply(Request request) { return encodeReply(runner.handle(request)); }
    static Request op(std::string name, std::optional<std::string> stream = std::nullopt) {
        Request request;
        request.op = std::move(name);
        request.stream = std::move(stream);
        return request;
    }
    Request feed(std::optional<std::string> stream, std::optional<std::string> pcm, std::int64_t offset = 0) {
        Request request = op("feed", std::move(stream));
        request.pcm = std::move(pcm);
        request.offset_ms = offset;
        return request;
    }
};

TEST_F(RunnerTest, StatusReportsAvailabilityAndLanguage) {
    EXPECT_EQ(reply(op("status")), R"({"ok":true,"available":true})");
    engine.supported.clear();
    EXPECT_EQ(reply(op("status")),
              R"({"ok":true,"available":false,"reason":"No supported speech language is installed"})");
    engine.available = false;
    EXPECT_EQ(reply(op("status")),
              R"({"ok":true,"available":false,"reason":"Apple's speech recognizer isn't available on this Mac"})");
    EXPECT_EQ(engine.recognizersMade, 0);
}

TEST_F(RunnerTest, LocaleFallsBackToTheCurrentOneThenUsEnglish) {
    Request begin = op("begin");
    begin.locale = "fr_FR";
    EXPECT_EQ(reply(begin), R"({"ok":true,"downloaded":false})");
    EXPECT_EQ(engine.localesAsked, (std::vector<std::string>{"fr_FR", "de_DE", "en_US"}));
}

TEST_F(RunnerTest, BeginTwiceIsAnIdempotentSuccess) {
    engine.downloads = true;
    EXPECT_EQ(reply(op("begin", "a")), R"({"ok":true,"downloaded":true})");
    engine.available = false;
    Request again = op("begin", "a");
    again.locale = "xx";
    EXPECT_EQ(reply(again), R"({"ok":true,"downloaded":false})");
    EXPECT_EQ(engine.recognizersMade, 1);
}

TEST_F(RunnerTest, BeginFailuresLeaveNoStream) {
    engine.available = false;
    EXPECT_EQ(reply(op("begin")), R"({"ok":false,"error":"Apple's speech recognizer isn't available"})");
    engine.available = true;
    engine.supported.clear();
    EXPECT_EQ(reply(op("begin")), R"({"ok":false,"error":"no supported speech locale"})");
    engine.supported = {"en_US"};
    engine.best.reset();
    EXPECT_EQ(reply(op("begin")), R"j({"ok":false,"error":"begin failed: msg(\"no bestAvailableAudioFormat\")"})j");
    engine.best = AudioFormat{16000, 1, SampleType::int16};
    engine.cannotMakeRecognizer = true;
    EXPECT_EQ(reply(op("begin")), R"({"ok":false,"error":"begin failed: model missing"})");
    EXPECT_EQ(reply(feed(std::nullopt, "")), R"({"ok":false,"error":"feed before begin for stream \"default\""})");
}

TEST_F(RunnerTest, TheNumberOfOpenStreamsIsBounded) {
    for (std::size_t i = 0; i < kMaxOpenStreams; ++i)
        EXPECT_EQ(reply(op("begin", std::to_string(i))), R"({"ok":true,"downloaded":false})");
    EXPECT_EQ(reply(op("begin", "one more")),
              R"j({"ok":false,"error":"begin failed: msg(\"8 streams are open already; finish one first\")"})j");
    EXPECT_EQ(reply(op("begin", "0")), R"({"ok":true,"downloaded":false})");
    reply(op("finish", "0"));
    EXPECT_EQ(reply(op("begin", "one more")), R"({"ok":true,"downloaded":false})");
}

TEST_F(RunnerTest, FeedChecksTheStreamThenThePcm) {
    EXPECT_EQ(reply(feed("x/y", "")), R"({"ok":false,"error":"feed before begin for stream \"x\/y\""})");
    reply(op("begin"));
    EXPECT_EQ(reply(feed(std::nullopt, std::nullopt)), R"({"ok":false,"error":"missing or invalid pcm"})");
    EXPECT_EQ(reply(feed(std::nullopt, "AAAA AAAA")), R"({"ok":false,"error":"missing or invalid pcm"})");
    EXPECT_EQ(reply(feed(std::nullopt, "AAAA\n")), R"({"ok":false,"error":"missing or invalid pcm"})");
    EXPECT_EQ(reply(feed(std::nullopt, "")), R"({"ok":true,"segments":[]})");
    EXPECT_EQ(reply(feed("default", "AAAAAAA=")), R"({"ok":true,"segments":[]})");
}

TEST_F(RunnerTest, FinishStampsEachStreamsNameAndEmptiesTheTable) {
    EXPECT_EQ(reply(op("finish")), R"({"ok":true,"segments":[]})");
    reply(op("begin", ""));
    reply(op("begin", "mic"));
    reply(feed("", pcmOf(speech(16, 16)), 1000));
    reply(feed("mic", pcmOf(speech(0, 32)), 2000));
    EXPECT_EQ(reply(op("finish", "unknown")), R"({"ok":true,"segments":[]})");
    EXPECT_EQ(reply(op("finish")),
              R"({"ok":true,"segments":[{"t0_ms":1001,"t1_ms":1002,"text":"words 16","speaker":""},)"
              R"({"t0_ms":2000,"t1_ms":2002,"text":"words 32","speaker":"mic"}]})");
    EXPECT_EQ(reply(feed("mic", "")), R"({"ok":false,"error":"feed before begin for stream \"mic\""})");
    EXPECT_EQ(reply(op("begin", "mic")), R"({"ok":true,"downloaded":false})");
    EXPECT_EQ(engine.recognizersMade, 3);
}

TEST_F(RunnerTest, FinishWithANameClosesOnlyThatStream) {
    reply(op("begin", "a"));
    reply(op("begin", "b"));
    reply(feed("b", pcmOf(speech(0, 16))));
    EXPECT_EQ(reply(op("finish", "a")), R"({"ok":true,"segments":[]})");
    EXPECT_EQ(reply(op("finish", "b")), R"({"ok":true,"segments":[{"t0_ms":0,"t1_ms":1,"text":"words 16","speaker":"b"}]})");
}

TEST_F(RunnerTest, OperationsAreCaseSensitive) {
    EXPECT_EQ(reply(op("Status")), R"({"ok":false,"error":"unknown op: Status"})");
    EXPECT_EQ(reply(op("FINISH")), R"({"ok":false,"error":"unknown op: FINISH"})");
    EXPECT_EQ(reply(op("")), R"({"ok":false,"error":"unknown op: "})");
}

}  // namespace
}  // namespace tevoli::asr

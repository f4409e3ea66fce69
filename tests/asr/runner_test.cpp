#include "runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "fake_speech_engine.h"
#include "pcm.h"

namespace tevoli::asr {
namespace {

class RunnerTest : public ::testing::Test {
protected:
    FakeSpeechEngine engine;
    Runner runner{engine, [](std::chrono::milliseconds) {}};

    std::string reply(std::string op, std::optional<std::string> stream = std::nullopt,
                      std::optional<std::string> locale = std::nullopt) {
        return encodeReply(runner.handle({std::move(op), std::move(stream), std::move(locale), {}, {}}));
    }
    std::string feed(const std::string& stream, const std::vector<float>& samples, std::int64_t offsetMs) {
        const std::string_view bytes(reinterpret_cast<const char*>(samples.data()), samples.size() * 4);
        return encodeReply(runner.handle({"feed", stream, {}, base64(bytes), offsetMs}));
    }
};

TEST_F(RunnerTest, ReplyTextsOfRequestLines) {
    const char* const noPcm = R"({"ok":false,"error":"missing or invalid pcm"})";
    const std::pair<const char*, const char*> lines[] = {
        {R"({"op":"status"})", R"({"ok":true,"available":true})"},
        {R"({"op":"feed","stream":"a/b","pcm":""})", R"({"ok":false,"error":"feed before begin for stream \"a\/b\""})"},
        {R"({"op":"begin"})", R"({"ok":true,"downloaded":false})"},
        {R"({"op":"feed"})", noPcm},
        {R"({"op":"feed","stream":"default","pcm":"AAAA AAA="})", noPcm},
        {R"({"op":"feed","pcm":"AAAAAAAAAA==","offset_ms":1e3})", R"({"ok":true,"segments":[]})"},
    };
    for (const auto& [line, reply] : lines) EXPECT_EQ(runner.lineServer().answer(line), reply) << line;
}

// The texts of the states a real engine on this machine does not reach.
TEST_F(RunnerTest, StatusAndBeginFailuresHaveTheirOwnTexts) {
    engine.supported.clear();
    EXPECT_EQ(reply("status"), R"({"ok":true,"available":false,"reason":"No supported speech language is installed"})");
    EXPECT_EQ(reply("begin"), R"({"ok":false,"error":"no supported speech locale"})");
    engine.available = false;
    EXPECT_EQ(reply("status"),
              R"({"ok":true,"available":false,"reason":"Apple's speech recognizer isn't available on this Mac"})");
    EXPECT_EQ(reply("begin"), R"({"ok":false,"error":"Apple's speech recognizer isn't available"})");
    engine.available = true;
    engine.supported = {"en_US"};
    engine.best.reset();
    EXPECT_EQ(reply("begin"), R"j({"ok":false,"error":"begin failed: msg(\"no bestAvailableAudioFormat\")"})j");
    engine.best = AudioFormat{48000, 2, SampleType::float32};
    EXPECT_EQ(reply("begin"), R"j({"ok":false,"error":"begin failed: )j"
                              R"j(msg(\"no converter 1 ch, 16000 Hz, Float32 -> 2 ch, 48000 Hz, Float32\")"})j");
    engine.best = AudioFormat{16000, 1, SampleType::int16};
    engine.cannotMakeRecognizer = true;
    EXPECT_EQ(reply("begin"), R"({"ok":false,"error":"begin failed: model missing"})");
    engine.cannotMakeRecognizer = false;
    reply("begin");
    EXPECT_EQ(engine.recognizersMade, 1);  // no failed begin left a stream behind
}

TEST_F(RunnerTest, BeginFallsBackToTheCurrentLocaleThenUsEnglishAndTwiceIsAnIdempotentSuccess) {
    engine.downloads = true;
    EXPECT_EQ(reply("begin", "a", "fr_FR"), R"({"ok":true,"downloaded":true})");
    EXPECT_EQ(engine.localesAsked, (std::vector<std::string>{"fr_FR", "de_DE", "en_US"}));
    engine.available = false;
    EXPECT_EQ(reply("begin", "a", "xx"), R"({"ok":true,"downloaded":false})");
    EXPECT_EQ(engine.recognizersMade, 1);
}

TEST_F(RunnerTest, TheNumberOfOpenStreamsIsBounded) {
    for (std::size_t i = 0; i < kMaxOpenStreams; ++i) reply("begin", std::to_string(i));
    EXPECT_EQ(reply("begin", "one more"),
              R"j({"ok":false,"error":"begin failed: msg(\"8 streams are open already; finish one first\")"})j");
    EXPECT_EQ(reply("begin", "0"), R"({"ok":true,"downloaded":false})");
    reply("finish", "0");
    EXPECT_EQ(reply("begin", "one more"), R"({"ok":true,"downloaded":false})");
}

TEST_F(RunnerTest, FinishStampsEachStreamsNameAndClosesOnlyWhatItNames) {
    reply("begin", "");
    reply("begin", "mic");
    reply("begin", "b");
    feed("", speech(160, 160), 1000);
    feed("mic", speech(0, 320), 2000);
    feed("b", speech(160, 160), 0);
    EXPECT_EQ(reply("finish", "b"), R"({"ok":true,"segments":[{"t0_ms":10,"t1_ms":20,"text":"words 160","speaker":"b"}]})");
    EXPECT_EQ(reply("finish", "unknown"), R"({"ok":true,"segments":[]})");
    EXPECT_EQ(reply("finish"),
              R"({"ok":true,"segments":[{"t0_ms":1010,"t1_ms":1020,"text":"words 160","speaker":""},)"
              R"({"t0_ms":2000,"t1_ms":2020,"text":"words 320","speaker":"mic"}]})");
    EXPECT_EQ(reply("finish"), R"({"ok":true,"segments":[]})");
    EXPECT_EQ(reply("begin", "mic"), R"({"ok":true,"downloaded":false})");
    EXPECT_EQ(engine.recognizersMade, 4);
}

TEST_F(RunnerTest, ARecogniserThatStopsFailsEveryLaterRequestOfItsStream) {
    reply("begin", "well");
    engine.recognizerBreaksAfter = 1;
    reply("begin", "broken");
    EXPECT_EQ(feed("broken", speech(320, 0), 0), R"({"ok":true,"segments":[]})");
    feed("broken", speech(320, 0), 20);  // breaks the recogniser, before or after its reply
    const std::string stopped = R"j(msg(\"speech recognizer stopped: recogniser broke\")"})j";
    const std::string feedFailed = R"({"ok":false,"error":"feed failed: )" + stopped;
    // The worker meets the failure in its own time.
    for (int tries = 0; tries < 1000 && feed("broken", {}, 40) != feedFailed; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(feed("broken", speech(320, 0), 60), feedFailed);
    EXPECT_EQ(feed("well", speech(160, 160), 0), R"({"ok":true,"segments":[]})");
    EXPECT_EQ(reply("finish"), R"({"ok":false,"segments":[{"t0_ms":10,"t1_ms":20,"text":"words 160",)"
                               R"("speaker":"well"}],"error":"finish failed: )" + stopped);
}

// The reader's own rules are the common reader's; these are the fields asr takes.
TEST(DecodeRequest, TakesItsFieldsByTypeNullAsAbsent) {
    const auto request = decodeRequest(
        R"({"op":"feed","stream":"mic","locale":"en_GB","pcm":null,"offset_ms":-1500,"x":{"a":[1,{"b":null}]}})");
    ASSERT_TRUE(request);
    EXPECT_EQ(std::tie(request->op, request->stream, request->locale, request->pcm, request->offset_ms),
              std::make_tuple("feed", std::optional<std::string>("mic"), std::optional<std::string>("en_GB"),
                              std::optional<std::string>(), std::optional<std::int64_t>(-1500)));
    EXPECT_EQ(decodeRequest(R"({"op":"feed","offset_ms":null})")->offset_ms, std::nullopt);
    for (const char* line : {R"({"op":"feed","offset_ms":1.5})", R"({"op":"feed","offset_ms":"1"})",
                             R"({"op":"begin","stream":7})", R"({"op":"begin","locale":["en"]})",
                             R"({"op":"feed","pcm":{}})"})
        EXPECT_FALSE(decodeRequest(line)) << line;
}

TEST(DecodeBase64, IsStrictStandardBase64WithPadding) {
    EXPECT_EQ(decodeBase64("AAECAw=="), std::string("\x00\x01\x02\x03", 4));
    EXPECT_EQ(decodeBase64("+/+/"), "\xFB\xFF\xBF");
    for (const char* bad : {"AAECAw", "AAEC Aw==", "AAEC\nAw==", "AA=CAw==", "AAECA===", "-_-_", "YW=I", "=AAA"})
        EXPECT_FALSE(decodeBase64(bad)) << bad;
}

TEST(Samples, AreLittleEndianFloatsClampedTo16BitsWithNaNAsSilence) {
    const std::string bytes("\x00\x00\x80\x3F" "\x00\x00\x00\xBF" "\x01\x02\x03", 11);  // 1, -0.5, a partial sample
    EXPECT_EQ(samplesFromBytes(bytes), (std::vector<float>{1.0f, -0.5f}));
    const std::vector<float> samples{0.0f, 1.0f, -1.0f, 2.0f, -7.0f, 0.5f, std::nanf(""), INFINITY};
    EXPECT_EQ(toInt16(samples), (std::vector<std::int16_t>{0, 32767, -32767, 32767, -32767, 16384, 0, 32767}));
}

}  // namespace
}  // namespace tevoli::asr

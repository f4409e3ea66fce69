#include "transcription_stream.h"
#include "timeline.h"
#include "utterance_finder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "fake_speech_engine.h"

namespace tevoli::asr {
namespace {

using std::chrono::milliseconds;

TEST(Timeline, MapsSamplesThroughEachChunksOwnOffsetRoundingHalvesAway) {
    Timeline timeline(16000);
    timeline.add(0, 16000, 1500);
    timeline.add(16000, 16000, 5000);  // after a gap
    EXPECT_EQ(timeline.startMs(1000), 1563);  // 62.5 ms
    EXPECT_EQ(timeline.endMs(16000), 2500);  // the end of the first chunk, not the start of the next
    timeline.forgetBefore(16000);
    EXPECT_FALSE(timeline.startMs(15999));

    Timeline late(16000);
    late.add(0, 32000, INT64_MAX - 1000);
    EXPECT_EQ(late.startMs(16000), INT64_MAX);
    EXPECT_FALSE(late.startMs(16016));  // beyond 64 bits
}

TEST(Stream, AChunkThatDoesNotContinueThePreviousOneEndsTheUtterance) {
    const std::pair<std::int64_t, std::vector<std::pair<std::int64_t, std::int64_t>>> cases[] = {
        {200, {{0, 400}}},
        {250, {{0, 450}}},  // within 50 ms: the host's rounding, not a jump
        {251, {{0, 200}, {251, 451}}},
        {149, {{0, 200}, {149, 349}}},  // back in time
        {-5000, {{0, 200}, {-5000, -4800}}},
    };
    FakeSpeechEngine engine;
    for (const auto& [secondAt, expected] : cases) {
        auto stream = TranscriptionStream::make(engine, "en_US", [](milliseconds) {}).stream;
        std::vector<Seg> segs = stream->feed(speech(0, 3200), 0);
        for (Seg& seg : stream->feed(speech(0, 3200), secondAt)) segs.push_back(seg);
        for (Seg& seg : stream->finish()) segs.push_back(seg);  // whichever reply follows recognition
        std::vector<std::pair<std::int64_t, std::int64_t>> spans;
        for (const Seg& seg : segs) spans.emplace_back(seg.t0_ms, seg.t1_ms);
        EXPECT_EQ(spans, expected) << secondAt;
    }
}

TEST(Stream, FeedWaitsWhileTooMuchAudioIsQueued) {
    FakeSpeechEngine engine;
    std::promise<void> open;
    engine.gate = open.get_future().share();
    auto stream = TranscriptionStream::make(engine, "en_US", [](milliseconds) {}).stream;
    const std::vector<float> chunk(kMaxQueuedSamples / 2 + 1, 0.0f);
    for (int i = 0; i < 3; ++i) stream->feed(chunk, 0);  // one taken by the waiting recogniser, two queued
    auto fourth = std::async(std::launch::async, [&] { return stream->feed(chunk, 0); });
    EXPECT_EQ(fourth.wait_for(milliseconds(200)), std::future_status::timeout);
    open.set_value();
    EXPECT_TRUE(fourth.get().empty());
    EXPECT_TRUE(stream->finish().empty());
}

using Span = UtteranceFinder::Span;

// Frames described as text: runs of "<count><s|.>" for speech or silence, "q" marking
// one speech frame quieter than the rest, "n" noise that the detector takes for speech.
// Silence is the room's noise; speech alternates between loud and 7 dB less, never
// steady; "n" is less than 6 dB above the room, "q" has no energy at all.
double energy(char f, std::int64_t frame) {
    switch (f) {
        case 's': return frame % 2 == 0 ? 0.2 : 1.0;
        case 'n': return 0.12;
        case 'q': return 0;
        default: return 0.04;
    }
}
std::vector<char> frames(const std::string& text) {
    std::vector<char> out;
    for (std::size_t at = 0, digits = 0; at < text.size(); at += digits + 1) {
        digits = std::strspn(text.c_str() + at, "0123456789");
        out.insert(out.end(), digits == 0 ? 1 : std::stoul(text.substr(at, digits)), text[at + digits]);
    }
    return out;
}

Span at(std::int64_t beginFrame, std::int64_t endFrame) { return {beginFrame * 160, endFrame * 160}; }

TEST(UtteranceFinder, CutsUtterancesAtPausesAndLongSpeechAtItsQuietestMoment) {
    struct Case {
        const char* frames;
        std::vector<Span> spans;  // the last one closed by the end of the run, if open
    };
    const Case cases[] = {
        // 200 ms kept before speech, 200 ms of the closing 400 ms pause kept after it.
        {"100.50s40.", {at(80, 170)}},
        {"10.50s40.", {at(0, 80)}},
        {"50s39.50s40.", {at(0, 159)}},  // a shorter pause goes on
        {"50s40.10s40.", {at(0, 70), at(70, 120)}},
        {"50s10.", {at(0, 60)}},                      // the end of the run closes it
        {"50s", {at(0, 50)}},
        // From 10 s on, any silent frame ends it; at 12 s it is cut at its quietest
        // moment since 8 s, and what follows goes on as the next utterance.
        {"1000s1.", {at(0, 1001)}},
        {"1000s1.5s", {at(0, 1001), at(1001, 1006)}},  // never before the previous end
        {"999s1.", {at(0, 1000)}},
        {"900s5q295s30s", {at(0, 902), at(902, 1230)}},
        {"1200s", {at(0, 802), at(802, 1200)}},
        // Noise no louder than the quiet level is not speech, past the detector's hangover.
        {"100n", {}},
        {"100.50s100n", {at(80, 174)}},
        {"5q400n", {at(0, 324)}},  // until the 3 s quiet level has risen to the noise's
    };
    for (const Case& c : cases) {
        UtteranceFinder finder(0);
        std::vector<Span> spans;
        std::int64_t frame = 0, kept = 0;
        // What the finder lets go of is never part of an utterance to come.
        auto found = [&](std::optional<Span> span) {
            if (span) spans.push_back(*span);
            EXPECT_TRUE(!span || span->begin >= kept) << c.frames;
        };
        for (const char f : frames(c.frames)) {
            found(finder.frame(f != '.', energy(f, frame)));
            ++frame;
            EXPECT_LE(kept, finder.keepFrom()) << c.frames;
            kept = finder.keepFrom();
            EXPECT_LE(kept, frame * 160) << c.frames;
        }
        found(finder.endRun(frame * 160));
        EXPECT_EQ(spans, c.spans) << c.frames;
    }
}

}  // namespace
}  // namespace tevoli::asr

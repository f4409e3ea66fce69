#include "transcription_stream.h"
#include "timeline.h"

#include <gtest/gtest.h>

#include <future>

#include "fake_speech_engine.h"

namespace tevoli::asr {
namespace {

using std::chrono::milliseconds;

TEST(Settle, WaitsThreeHundredMillisecondsThenEightQuietPollsAtMostOneHundredFifty) {
    // When the collector grows, by poll number, and the sleeps settle then takes.
    struct Case {
        std::function<bool(int)> grows;
        std::size_t sleeps;
    };
    const Case cases[] = {
        {[](int) { return false; }, 1 + 8},
        {[](int poll) { return poll == 5; }, 1 + 5 + 8},
        {[](int) { return true; }, 1 + 150},
    };
    for (const Case& c : cases) {
        Collector collector;
        std::vector<milliseconds> slept;
        settle(collector, [&](milliseconds d) {
            if (c.grows(static_cast<int>(slept.size()))) collector.append({});
            slept.push_back(d);
        });
        ASSERT_EQ(slept.size(), c.sleeps);
        EXPECT_EQ(slept[0], milliseconds(300));
        for (std::size_t i = 1; i < slept.size(); ++i) EXPECT_EQ(slept[i], milliseconds(10));
    }
}

TEST(Timeline, MapsSamplesThroughEachChunksOwnOffsetRoundingHalvesAway) {
    Timeline timeline(16000);
    timeline.add(0, 16000, 1500);
    timeline.add(16000, 0, 99999);     // empty chunks hold no samples
    timeline.add(16000, 16000, 5000);  // after a gap
    EXPECT_EQ(timeline.startMs(1), 1500);     // 0.0625 ms
    EXPECT_EQ(timeline.startMs(1000), 1563);  // 62.5 ms
    EXPECT_EQ(timeline.startMs(16000), 5000);
    EXPECT_EQ(timeline.endMs(16000), 2500);  // the end of the first chunk, not the start of the next
    EXPECT_EQ(timeline.endMs(32000), 6000);
    EXPECT_FALSE(timeline.startMs(32000));
    EXPECT_FALSE(timeline.startMs(-1));
    timeline.forgetBefore(16000);
    EXPECT_FALSE(timeline.startMs(15999));
    EXPECT_EQ(timeline.startMs(16000), 5000);

    Timeline late(16000);
    late.add(0, 32000, INT64_MAX - 1000);
    EXPECT_EQ(late.startMs(16000), INT64_MAX);
    EXPECT_FALSE(late.startMs(16016));  // beyond 64 bits
}

class StreamTest : public ::testing::Test {
protected:
    FakeSpeechEngine engine;
    Sleep noWait = [](milliseconds) {};
};

TEST_F(StreamTest, SegmentsCarryTheHostsOffsetsAcrossGaps) {
    auto stream = TranscriptionStream::make(engine, "en_US", noWait).stream;
    std::vector<Seg> segs = stream->feed(speech(8000, 8000), 1500);  // speech from 2000 ms on
    for (Seg& seg : stream->feed(speech(4000, 0), 10000)) segs.push_back(seg);  // closes it at 10000
    for (Seg& seg : stream->feed(speech(1600, 3200), -400)) segs.push_back(seg);
    for (Seg& seg : stream->finish()) segs.push_back(seg);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ(segs[0].t0_ms, 2000);
    EXPECT_EQ(segs[0].t1_ms, 2500);
    EXPECT_EQ(segs[0].text, "words 8000");
    EXPECT_FALSE(segs[0].speaker);
    EXPECT_EQ(segs[1].t0_ms, -300);
    EXPECT_EQ(segs[1].t1_ms, -100);
}

TEST_F(StreamTest, AChunkThatDoesNotContinueThePreviousOneEndsTheUtterance) {
    struct Case {
        std::int64_t secondAt;
        std::vector<std::pair<std::int64_t, std::int64_t>> segments;
    };
    const Case cases[] = {
        {200, {{0, 400}}},
        {250, {{0, 450}}},                // within 50 ms: the host's rounding, not a jump
        {251, {{0, 200}, {251, 451}}},
        {149, {{0, 200}, {149, 349}}},    // back in time
        {-5000, {{0, 200}, {-5000, -4800}}},
    };
    for (const Case& c : cases) {
        auto stream = TranscriptionStream::make(engine, "en_US", noWait).stream;
        std::vector<std::pair<std::int64_t, std::int64_t>> segments;
        // A segment comes with whichever reply follows its recognition.
        auto keep = [&](const std::vector<Seg>& segs) {
            for (const Seg& seg : segs) segments.emplace_back(seg.t0_ms, seg.t1_ms);
        };
        keep(stream->feed(speech(0, 3200), 0));
        keep(stream->feed(speech(0, 3200), c.secondAt));
        keep(stream->finish());
        EXPECT_EQ(segments, c.segments) << c.secondAt;
    }
}

TEST_F(StreamTest, FeedReturnsWhatSettledAndNothingTwice) {
    auto stream = TranscriptionStream::make(engine, "en_US").stream;  // the real 300 ms wait
    EXPECT_TRUE(stream->feed(speech(1600, 1600), 0).empty());  // still speaking at the end
    const auto second = stream->feed(speech(1600, 0), 100);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].t0_ms, 100);
    EXPECT_EQ(second[0].t1_ms, 200);
    EXPECT_TRUE(stream->finish().empty());
}

TEST_F(StreamTest, EmptyStreamsEndCleanly) {
    EXPECT_TRUE(TranscriptionStream::make(engine, "en_US", noWait).stream->finish().empty());
    EXPECT_TRUE(TranscriptionStream::make(engine, "en_US", noWait).stream->feed({}, 0).empty());
}

// Holds every chunk until the test lets it through.
class GatedRecognizer : public Recognizer {
public:
    explicit GatedRecognizer(std::shared_future<void> gate) : gate_(std::move(gate)) {}
    std::vector<bool> detectSpeech(std::span<const std::int16_t>) override {
        gate_.wait();
        return {};
    }
    void restartDetection() override {}
    Recognized recognize(std::span<const std::int16_t>) override { return {}; }

private:
    std::shared_future<void> gate_;
};

TEST_F(StreamTest, FeedWaitsWhileTooMuchAudioIsQueued) {
    std::promise<void> open;
    TranscriptionStream stream(std::make_unique<GatedRecognizer>(open.get_future().share()),
                               AudioFormat{16000, 1, SampleType::int16}, noWait);
    const std::vector<float> chunk(kMaxQueuedSamples / 2 + 1, 0.0f);
    stream.feed(chunk, 0);  // taken by the recogniser, which now waits
    stream.feed(chunk, 0);
    stream.feed(chunk, 0);  // the queue is now over its limit
    auto fourth = std::async(std::launch::async, [&] { return stream.feed(chunk, 0); });
    EXPECT_EQ(fourth.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    open.set_value();
    EXPECT_TRUE(fourth.get().empty());
    EXPECT_TRUE(stream.finish().empty());
}

}  // namespace
}  // namespace tevoli::asr

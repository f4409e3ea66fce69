#include "transcription_stream.h"

#include <gtest/gtest.h>

#include <future>

#include "fake_speech_engine.h"

namespace tevoli::asr {
namespace {

using std::chrono::milliseconds;

// A sleep that only records, and lets a test grow the collector between polls.
struct RecordedSleep {
    std::vector<milliseconds> slept;
    std::function<void(int)> onPoll = [](int) {};
    Sleep sleep() {
        return [this](milliseconds d) {
            slept.push_back(d);
            onPoll(static_cast<int>(slept.size()) - 1);
        };
    }
};

TEST(Settle, WaitsThreeHundredMillisecondsThenEightQuietPolls) {
    Collector collector;
    RecordedSleep recorded;
    settle(collector, recorded.sleep());
    ASSERT_EQ(recorded.slept.size(), 9u);
    EXPECT_EQ(recorded.slept[0], milliseconds(300));
    for (std::size_t i = 1; i < 9; ++i) EXPECT_EQ(recorded.slept[i], milliseconds(10));
}

TEST(Settle, ANewSegmentRestartsTheQuietCount) {
    Collector collector;
    RecordedSleep recorded;
    recorded.onPoll = [&](int poll) {
        if (poll == 5) collector.append({});
    };
    settle(collector, recorded.sleep());
    EXPECT_EQ(recorded.slept.size(), 1u + 5u + 8u);
}

TEST(Settle, GivesUpAfterOneHundredFiftyPolls) {
    Collector collector;
    RecordedSleep recorded;
    recorded.onPoll = [&](int) { collector.append({}); };
    settle(collector, recorded.sleep());
    EXPECT_EQ(recorded.slept.size(), 151u);
}

TEST(Collector, DrainsInArrivalOrderAndEmpties) {
    Collector collector;
    EXPECT_TRUE(collector.drain().empty());
    collector.append({0, 1, "A", std::nullopt});
    collector.append({1, 2, "B", std::nullopt});
    const auto drained = collector.drain();
    ASSERT_EQ(drained.size(), 2u);
    EXPECT_EQ(drained[0].text, "A");
    EXPECT_EQ(drained[1].text, "B");
    EXPECT_EQ(collector.count(), 0u);
    collector.append({2, 3, "C", std::nullopt});
    EXPECT_EQ(collector.drain().at(0).text, "C");
}

TEST(Timeline, MapsSamplesThroughEachChunksOwnOffset) {
    Timeline timeline(16000);
    timeline.add(0, 16000, 1500);
    timeline.add(16000, 0, 99999);  // empty chunks hold no samples
    timeline.add(16000, 16000, 5000);  // after a gap
    EXPECT_EQ(timeline.startMs(0), 1500);
    EXPECT_EQ(timeline.startMs(8000), 2000);
    EXPECT_EQ(timeline.startMs(1), 1500);   // 0.0625 ms
    EXPECT_EQ(timeline.startMs(1000), 1563);  // 62.5 ms
    EXPECT_EQ(timeline.startMs(16000), 5000);
    EXPECT_EQ(timeline.endMs(16000), 2500);  // the end of the first chunk, not the start of the next
    EXPECT_EQ(timeline.endMs(32000), 6000);
    EXPECT_FALSE(timeline.startMs(32000));
    EXPECT_FALSE(timeline.startMs(-1));
}

TEST(Timeline, TimesBeyondSixtyFourBitsAreNotRepresentable) {
    Timeline timeline(16000);
    timeline.add(0, 32000, INT64_MAX - 1000);
    EXPECT_EQ(timeline.startMs(16000), INT64_MAX);
    EXPECT_FALSE(timeline.startMs(16016));
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

TEST_F(StreamTest, FeedReturnsWhatSettledAndNothingTwice) {
    auto stream = TranscriptionStream::make(engine, "en_US").stream;  // the real 300 ms wait
    const auto first = stream->feed(speech(1600, 1600), 0);  // still speaking at the end
    EXPECT_TRUE(first.empty());
    const auto second = stream->feed(speech(1600, 0), 100);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].t0_ms, 100);
    EXPECT_EQ(second[0].t1_ms, 200);
    EXPECT_TRUE(stream->finish().empty());
}

TEST_F(StreamTest, FinishRightAfterMakeReturnsNothingAndAnEmptyChunkIsAccepted) {
    auto stream = TranscriptionStream::make(engine, "en_US", noWait).stream;
    EXPECT_TRUE(stream->finish().empty());
    auto other = TranscriptionStream::make(engine, "en_US", noWait).stream;
    EXPECT_TRUE(other->feed({}, 0).empty());
}

TEST_F(StreamTest, AFailingRecogniserKeepsTheStreamUsable) {
    engine.recognizerFails = true;
    auto stream = TranscriptionStream::make(engine, "en_US", noWait).stream;
    EXPECT_TRUE(stream->feed(speech(10, 10), 0).empty());
    EXPECT_TRUE(stream->feed(speech(10, 10), 0).empty());
    EXPECT_TRUE(stream->finish().empty());
}

TEST_F(StreamTest, ReleasingAnUnfinishedStreamDropsItsQueue) {
    auto stream = TranscriptionStream::make(engine, "en_US", noWait).stream;
    for (int i = 0; i < 20; ++i) stream->feed(speech(16000, 16000), i * 2000);
    stream.reset();  // returns without recognising the rest
}

// Holds every chunk until the test lets it through.
class GatedRecognizer : public Recognizer {
public:
    explicit GatedRecognizer(std::shared_future<void> gate) : gate_(std::move(gate)) {}
    std::vector<Utterance> process(std::span<const std::int16_t>) override {
        gate_.wait();
        return {};
    }
    std::vector<Utterance> finish() override { return {}; }

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

TEST_F(StreamTest, MakeReportsFormatProblemsAndTheDownloadFlag) {
    engine.downloads = true;
    EXPECT_TRUE(TranscriptionStream::make(engine, "en_US", noWait).downloaded);
    engine.best.reset();
    try {
        TranscriptionStream::make(engine, "en_US", noWait);
        FAIL();
    } catch (const HelperError& error) {
        EXPECT_STREQ(error.what(), R"(msg("no bestAvailableAudioFormat"))");
    }
    engine.best = AudioFormat{48000, 2, SampleType::float32};
    try {
        TranscriptionStream::make(engine, "en_US", noWait);
        FAIL();
    } catch (const HelperError& error) {
        EXPECT_EQ(error.message(), "no converter 1 ch, 16000 Hz, Float32 -> 2 ch, 48000 Hz, Float32");
    }
}

}  // namespace
}  // namespace tevoli::asr

#include "utterance_finder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tevoli::asr {
namespace {

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
    std::size_t count = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            count = count * 10 + static_cast<std::size_t>(c - '0');
        } else {
            out.insert(out.end(), count == 0 ? 1 : count, c);
            count = 0;
        }
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
        for (const char f : frames(c.frames)) {
            if (const auto span = finder.frame(f != '.', energy(f, frame))) spans.push_back(*span);
            ++frame;
            EXPECT_LE(kept, finder.keepFrom()) << c.frames;
            kept = finder.keepFrom();
            EXPECT_LE(kept, frame * 160) << c.frames;
        }
        if (const auto span = finder.endRun(frame * 160)) spans.push_back(*span);
        EXPECT_EQ(spans, c.spans) << c.frames;
    }
}

TEST(UtteranceFinder, KeepsWhatAnUtteranceToComeMayInclude) {
    UtteranceFinder finder(16000);  // a run that starts a second into the stream
    for (int i = 0; i < 100; ++i) finder.frame(false, 0);
    EXPECT_EQ(finder.keepFrom(), 16000 + 80 * 160);
    finder.frame(true, 1);
    EXPECT_EQ(finder.keepFrom(), 16000 + 80 * 160);
    for (int i = 0; i < 40; ++i) finder.frame(false, 0);
    EXPECT_EQ(finder.keepFrom(), 16000 + 121 * 160);  // the end of the utterance
    EXPECT_FALSE(finder.endRun(16000 + 141 * 160));
}

}  // namespace
}  // namespace tevoli::asr

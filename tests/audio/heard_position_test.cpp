// The heard position's arithmetic: a timing record carried on by the time since, bounded
// by what was handed over and held from running back; a Pulse server's reply as a record.
#include <gtest/gtest.h>

#include <climits>

#include "audio/heard_position.h"

namespace {

constexpr int RATE = 44100;
constexpr int64_t MS = 1000000;  // ns

TEST(HeardPosition, RunsOnFromTheRecordUpToWhatWasWrittenAndNeverBack) {
    const PlaybackTiming playing{10000, 2048, 5 * MS, true};
    struct Case {
        const char* what;
        PlaybackTiming timing;
        int64_t written, nowNs, previous, heard;
    };
    const Case cases[] = {
        {"at the record's moment", playing, 12048, 5 * MS, INT64_MIN, 10000 - 2048},
        {"10 ms later, 441 frames on", playing, 12048, 15 * MS, INT64_MIN, 10000 - 2048 + 441},
        {"a stamp in the future counts as now", playing, 12048, 1 * MS, INT64_MIN, 10000 - 2048},
        {"long after, no further than written", playing, 12048, 900 * MS, INT64_MIN, 12048},
        {"stalled: the time since is ignored", {10000, 2048, 5 * MS, false}, 12048, 500 * MS, INT64_MIN, 7952},
        {"held at the previous answer", playing, 12048, 5 * MS, 8000, 8000},
        {"a 20 s gap is taken as 10 s", {0, 0, 0, true}, INT64_MAX / 2, 20000 * MS, INT64_MIN, 441000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(heardFrameAt(c.timing, c.written, c.nowNs, RATE, c.previous), c.heard) << c.what;
}

TEST(HeardPosition, AServerRaisingItsLatencyHoldsThePositionUntilTheSoundCatchesUp) {
    // 23 ms behind, then a reply says 93 ms: the answer stands still for the 70 ms the
    // sound now needs to reach it, then runs at the rate again.
    PlaybackTiming timing{44100, 1024, 0, true};
    int64_t heard = INT64_MIN, previous = INT64_MIN;
    for (int64_t t = 0; t <= 100 * MS; t += MS) {
        heard = heardFrameAt(timing, 1 << 30, t, RATE, previous);
        ASSERT_GE(heard, previous) << "at " << t / MS << " ms";
        previous = heard;
    }
    const int64_t before = heard;
    timing = {44100 + 4410, 4096, 100 * MS, true};
    EXPECT_EQ(heardFrameAt(timing, 1 << 30, 100 * MS, RATE, previous), before);
    EXPECT_EQ(heardFrameAt(timing, 1 << 30, 140 * MS, RATE, previous), before);
    EXPECT_EQ(heardFrameAt(timing, 1 << 30, 200 * MS, RATE, previous), 44100 + 4410 - 4096 + 4410);
}

TEST(HeardPosition, AServerReplyIsTheReadIndexLessTheSinkLatencyThatRemains) {
    const int frameBytes = 8;  // stereo float
    PlaybackTiming t = timingFromServer(44100 * 8, 20000, 1000, true, false, 7 * MS, frameBytes, RATE);
    EXPECT_EQ(t.readFrame, 44100);
    EXPECT_EQ(t.latencyFrames, 19000 * RATE / 1000000) << "the sink played on while the reply travelled";
    EXPECT_EQ(t.stampNs, 7 * MS);
    EXPECT_TRUE(t.running);
    t = timingFromServer(800, 20000, 1000, false, false, 0, frameBytes, RATE);
    EXPECT_FALSE(t.running) << "an underrun stream stands still";
    EXPECT_EQ(t.latencyFrames, 837);
    t = timingFromServer(800, 20000, 1000, true, true, 0, frameBytes, RATE);
    EXPECT_FALSE(t.running) << "corked";
    EXPECT_EQ(t.latencyFrames, 0) << "corked: the server took back what its sink held";
    t = timingFromServer(-16, 500, 3000, true, false, 0, frameBytes, RATE);
    EXPECT_EQ(t.readFrame, 0);
    EXPECT_EQ(t.latencyFrames, 0) << "never ahead of the read index";
}

}  // namespace

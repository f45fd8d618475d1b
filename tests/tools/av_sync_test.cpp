// The av-sync measurement's arithmetic: the sink clock from stamped reads under load,
// click onsets, the first frame that shows a click, and the click track itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tools/av_sync/click_track.h"
#include "tools/av_sync/sync_analysis.h"

namespace {

constexpr int RATE = 44100;
constexpr int BLOCK = 220;          // frames the simulated sink hands over at a time
constexpr double ORIGIN_NS = 5e9;   // when frame 0 plays

// Reads of a sink that hands over block j as it starts to play; the reader is late by
// 0..`jitterNs`, and from block `stallFrom` on for `stallBlocks` blocks it is stalled
// and catches up in one read.
std::vector<ChunkStamp> stampedReads(int blocks, double jitterNs, int stallFrom, int stallBlocks) {
    std::vector<ChunkStamp> stamps;
    std::srand(7);
    for (int j = 0; j < blocks; ++j) {
        if (j >= stallFrom && j < stallFrom + stallBlocks - 1) continue;  // still stalled
        const double handedNs = ORIGIN_NS + double(j) * BLOCK * 1e9 / RATE;
        const double lateNs = jitterNs * std::rand() / RAND_MAX;
        stamps.push_back({int64_t(handedNs + lateNs), int64_t(j + 1) * BLOCK});
    }
    return stamps;
}

TEST(AvSyncSinkClock, FindsThePlayingClockThroughJitterAndStalls) {
    const std::vector<ChunkStamp> stamps = stampedReads(2000, 3e6, 900, 40);
    const SinkClock clock = fitSinkClock(stamps, RATE);
    EXPECT_EQ(clock.blockFrames, BLOCK);
    // The lower envelope is as good as the luckiest read: 3 ms of jitter over 2000 reads
    // leaves well under 0.1 ms.
    EXPECT_NEAR(clock.originNs, ORIGIN_NS, 1e5);
    EXPECT_NEAR(clock.driftNsPerS, 0.0, 2e4);
}

TEST(AvSyncSinkClock, ShowsARecordingThatLostFramesAsDrift) {
    std::vector<ChunkStamp> stamps = stampedReads(2000, 1e6, 0, 0);
    // 50 ms of frames never arrive halfway through: every later frame seems 50 ms late,
    // which the halves' envelopes, 5 s apart, show as 10 ms per second.
    for (size_t i = stamps.size() / 2; i < stamps.size(); ++i) stamps[i].endFrame -= RATE / 20;
    const SinkClock clock = fitSinkClock(stamps, RATE);
    EXPECT_NEAR(clock.driftNsPerS, 1e7, 1e6);
    EXPECT_EQ(fitSinkClock({}, RATE).blockFrames, 0);
}

TEST(AvSyncSinkClock, TimesEachFrameByTheClockAroundItThroughLostFrames) {
    const std::vector<ChunkStamp> sink = stampedReads(2000, 1e6, 300, 30);
    // The ten blocks after read 1000 never arrive (a recorder overrun): later recording
    // frames are that much further into the sink's playing than their index says.
    const int64_t lostAt = sink[1000].endFrame, lost = 10 * BLOCK;
    std::vector<ChunkStamp> stamps(sink.begin(), sink.begin() + 1001);
    for (size_t i = 1011; i < sink.size(); ++i) stamps.push_back({sink[i].timeNs, sink[i].endFrame - lost});
    const int64_t window = RATE / 4;
    for (int64_t frame : {int64_t(10 * BLOCK), lostAt - 3 * BLOCK, lostAt - window / 2, lostAt + 5 * BLOCK}) {
        const int64_t truth = frame <= lostAt ? frame : frame + lost;
        EXPECT_NEAR(playedAtNs(stamps, RATE, BLOCK, frame, window), ORIGIN_NS + double(truth) * 1e9 / RATE, 2e5)
            << "frame " << frame;
    }
    EXPECT_EQ(playedAtNs(stamps, RATE, BLOCK, stamps.back().endFrame + 1, window), 0.0);

    // One step, where the frames went missing; the reader's 30-block stall before it
    // only delays reads and is no step.
    const std::vector<ClockStep> steps = findClockSteps(stamps, RATE, window, 2e6);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_NEAR(steps[0].stepNs, double(lost) * 1e9 / RATE, 2e5);
    EXPECT_LE(std::llabs(steps[0].frame - lostAt), window);
}

TEST(AvSyncSinkClock, ASteadySinkOffItsRateHasNoSteps) {
    // A sink playing 0.2 ms per second slow, as PulseAudio's null sink does, read with
    // 3 ms of jitter: its envelope creeps but never steps, and a frame is timed right.
    std::vector<ChunkStamp> stamps = stampedReads(4000, 3e6, 0, 0);
    for (ChunkStamp& s : stamps) s.timeNs = int64_t(ORIGIN_NS + (double(s.timeNs) - ORIGIN_NS) * 1.0002);
    EXPECT_TRUE(findClockSteps(stamps, RATE, RATE / 4, 2e6).empty());
    const int64_t frame = 3000 * BLOCK;
    EXPECT_NEAR(playedAtNs(stamps, RATE, BLOCK, frame, RATE / 4), ORIGIN_NS + double(frame) * 1.0002e9 / RATE, 2e5);
}

TEST(AvSyncOnsets, OneOnsetPerClickAtItsFirstLoudSample) {
    std::vector<float> mono(20000, 0.01f);  // a floor of noise below the threshold
    for (int start : {1000, 9000, 15000})
        for (int i = 0; i < 800; ++i) mono[size_t(start + i)] = (i % 2 ? -0.5f : 0.5f) * (1.0f - i / 1600.0f);
    mono[600] = 0.2f;  // a stray sample below the threshold
    const std::vector<int64_t> onsets = findOnsets(mono, 0.25f, 2000);
    EXPECT_EQ(onsets, (std::vector<int64_t>{1000, 9000, 15000}));
    // A gap shorter than a click finds its body again as a new onset.
    EXPECT_GT(findOnsets(mono, 0.25f, 100).size(), 3u);
}

TEST(AvSyncOnsets, PairsClicksThroughDropoutsAndDelays) {
    // Track clicks 0.5 s apart at 44.1 kHz, heard at 48 kHz from frame 1000 on.
    const std::vector<int64_t> track = {0, 22050, 44100, 66150, 88200};
    const std::vector<int64_t> sink = {
        1000,
        1000 + 12000 + 4800,  // click 0 resumed after a 100 ms dropout: not a click
        25000,                // click 1 on time
        49000 + 4800,         // click 2 late by 100 ms after an underrun
        // click 3 never arrives
        97000 + 4800,         // click 4, on time behind click 2's delay
    };
    EXPECT_EQ(matchClicks(sink, 48000, track, 44100, 400.0),
              (std::vector<int64_t>{1000, 25000, 53800, -1, 101800}));
    // Too late to be the click it would be: not taken.
    EXPECT_EQ(matchClicks({1000, 25000 + 24000}, 48000, {0, 22050}, 44100, 400.0),
              (std::vector<int64_t>{1000, -1}));
    EXPECT_EQ(matchClicks({}, 48000, track, 44100, 400.0), std::vector<int64_t>(5, -1));
}

TEST(AvSyncFrames, FirstRiseWithinTheWindow) {
    std::vector<LoggedFrame> frames;
    const float levels[] = {0.3f, 0.3f, 0.0f, 0.0f, 0.1f, 0.25f, 0.3f, 0.0f};
    for (int i = 0; i < 8; ++i) frames.push_back({int64_t(i) * 10, levels[i], 0});
    // A level already up when the window opens belongs to something earlier.
    EXPECT_EQ(firstFrameShowing(frames, 0, 80, 0.2f), 5);
    EXPECT_EQ(firstFrameShowing(frames, 10, 80, 0.2f), 5);
    EXPECT_EQ(firstFrameShowing(frames, 0, 50, 0.2f), -1) << "the rise comes after the window";
    EXPECT_EQ(firstFrameShowing(frames, 0, 80, 0.5f), -1);
}

TEST(AvSyncFrames, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(median({5.0, -1.0, 3.0}), 3.0);
    EXPECT_DOUBLE_EQ(median({4.0, 1.0, 2.0, 3.0}), 2.5);
    EXPECT_DOUBLE_EQ(median({}), 0.0);
}

TEST(AvSyncTrack, ClicksStartSharpAtIrregularKnownFramesOverSilence) {
    const std::vector<int64_t> starts = clickFrames();
    ASSERT_EQ(starts.size(), size_t(CLICK_COUNT));
    EXPECT_EQ(starts[0], CLICK_LEAD_IN);
    std::vector<int64_t> phases;  // where each click falls in a 1024-frame buffer cycle
    for (size_t k = 1; k < starts.size(); ++k) {
        const int64_t gap = starts[k] - starts[k - 1];
        EXPECT_GE(gap, RATE * 45 / 100);
        EXPECT_LE(gap, RATE * 75 / 100);
        phases.push_back(starts[k] % 1024);
    }
    std::sort(phases.begin(), phases.end());
    EXPECT_GE(std::unique(phases.begin(), phases.end()) - phases.begin(), 12);

    const std::vector<int16_t> pcm = synthesizeClickTrack();
    ASSERT_EQ(pcm.size() % 2, 0u);
    const int16_t peak = int16_t(std::lround(CLICK_AMPLITUDE * 32767));
    size_t loud = 0;
    for (int64_t start : starts) {
        EXPECT_EQ(pcm[size_t(start) * 2], peak);
        EXPECT_EQ(pcm[size_t(start) * 2 + 1], peak);
        EXPECT_EQ(pcm[size_t(start - 1) * 2], 0);
        EXPECT_EQ(pcm[size_t(start + CLICK_FRAMES) * 2], 0);
    }
    for (int16_t v : pcm) loud += v != 0;
    EXPECT_LE(loud, size_t(CLICK_COUNT) * CLICK_FRAMES * 2);
    EXPECT_GE(pcm.size() / 2, size_t(starts.back() + CLICK_FRAMES + RATE));
}

}  // namespace

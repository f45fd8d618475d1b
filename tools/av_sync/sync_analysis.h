// The arithmetic of the av-sync measurement, apart from any file or sound server: the
// sink's sample clock from the recorder's arrival stamps, click onsets in a recording,
// the first logged frame that shows a click, and the summary figures. Plain code.
#pragma once
#include <cstdint>
#include <vector>

// One read of the recorder: `endFrame` frames had arrived in all when the read returned
// at `timeNs` (monotonic clock).
struct ChunkStamp {
    int64_t timeNs;
    int64_t endFrame;
};

// The sink's sample clock as a line: frame m of the recording plays at
// originNs + m * 1e9 / rate. The sink hands its monitor each block of `blockFrames` as
// the block starts to play, and a loaded machine only ever delays a read, so the lower
// envelope of (arrival - frames received so far) times the end of a block one block
// before it plays; the origin is that envelope plus one block. The block is the most
// common read size. `driftNsPerS` compares the envelopes of the two halves of the
// recording (ns per second: a recording that lost frames or a clock that ran off shows
// here). All 0 without stamps.
struct SinkClock {
    double originNs = 0.0;
    int64_t blockFrames = 0;
    double driftNsPerS = 0.0;
};
SinkClock fitSinkClock(const std::vector<ChunkStamp>& stamps, int rate);

// When frame `frame` of the recording played (ns, monotonic clock): the same envelope as
// fitSinkClock's, taken only over the reads that returned frames `frame` to
// `frame + windowFrames`. Local, so that a recording that lost frames earlier (a
// recorder overrun on a loaded machine steps the envelope by whole blocks) or a sink
// clock a little off its nominal rate does not move it; a loss later than the window
// does not either, since it only raises the envelope. 0 when no read is in the window.
double playedAtNs(const std::vector<ChunkStamp>& stamps, int rate, int64_t blockFrames, int64_t frame,
                  int64_t windowFrames);

// A jump of the sink clock as the recording shows it: the envelope over the reads of
// one window of `windowFrames` differs from the previous window's by `stepNs`
// (positive: frames went missing). Recording frame where the later window starts.
struct ClockStep {
    int64_t frame;
    double stepNs;
};
// Every step of more than `thresholdNs` between consecutive windows. A steady sink
// moves its envelope by its rate error only (PulseAudio's null sink: 0.2 ms per second).
std::vector<ClockStep> findClockSteps(const std::vector<ChunkStamp>& stamps, int rate, int64_t windowFrames,
                                      double thresholdNs);

// Frames where |sample| first reaches `threshold`, at least `gap` frames after the
// previous onset.
std::vector<int64_t> findOnsets(const std::vector<float>& mono, float threshold, int64_t gap);

// Pairs the onsets heard at the sink (frames at `sinkRate`) with the track's clicks
// (frames at `trackRate`), in order: the first onset is the first click, and each later
// click is the first onset from 5 ms before where the track's spacing puts it up to
// `lateMs` after (an underrun delays it). An onset in between is a click resumed after
// a dropout and is passed over. -1 for a click with no onset there.
std::vector<int64_t> matchClicks(const std::vector<int64_t>& sinkOnsets, int sinkRate,
                                 const std::vector<int64_t>& trackOnsets, int trackRate, double lateMs);

// What the frame log holds per presented frame.
struct LoggedFrame {
    int64_t timeNs;  // presentation, monotonic clock
    float level;     // music level, 0..1
    int64_t heard;   // the heard frame the level was taken at
};

// Index of the first frame presented in [fromNs, toNs) with level >= threshold whose
// previous frame in the log was below it; -1 when there is none.
int firstFrameShowing(const std::vector<LoggedFrame>& frames, int64_t fromNs, int64_t toNs, float threshold);

// The middle value (the mean of the two middle ones for an even count); 0 when empty.
double median(std::vector<double> values);

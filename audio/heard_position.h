// The heard position as plain arithmetic, for both outputs: a record of how far the
// output had read and how much sound lay between that and the listener, carried on by
// the time since, bounded by what was handed over and never running backwards.
#pragma once
#include <cstdint>

// A snapshot of an output's playback, in frames of one count (the stream's or the track's).
struct PlaybackTiming {
    int64_t readFrame = 0;      // frames the output had taken when the record held
    int64_t latencyFrames = 0;  // frames from its read point to the listener then, >= 0
    int64_t stampNs = 0;        // when the record held, on soundClockNs
    bool running = false;       // it was playing on: the position advances with the time since
};

// The frame heard at `nowNs`: readFrame - latencyFrames, plus the time since stampNs
// (0..10 s of it) at `rate` frames per second while running; at most `writtenFrames`
// (what the output was handed) and never below `previous` (the last answer).
int64_t heardFrameAt(const PlaybackTiming& timing, int64_t writtenFrames, int64_t nowNs, int rate, int64_t previous);

// A Pulse server's timing reply as a record: the stream's read index (bytes), the
// sink's latency behind it and the reply's time in transit (microseconds), received at
// `stampNs`. A corked stream is heard up to its read index (the server takes back what
// the sink held) and stands still; a playing one is behind it by the sink's latency,
// less the transit (never ahead of it), and runs on.
PlaybackTiming timingFromServer(int64_t readIndexBytes, int64_t sinkUsec, int64_t transportUsec, bool playing,
                                bool corked, int64_t stampNs, int bytesPerFrame, int rate);

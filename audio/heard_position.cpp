// The heard position's arithmetic, free of any sound library.
#include "audio/heard_position.h"

#include <algorithm>

int64_t heardFrameAt(const PlaybackTiming& timing, int64_t writtenFrames, int64_t nowNs, int rate, int64_t previous) {
    int64_t heard = timing.readFrame - timing.latencyFrames;
    if (timing.running) {
        // Clamped to 0..10 s: enough to pass any buffer, far from overflowing the product.
        const int64_t sinceNs = std::clamp<int64_t>(nowNs - timing.stampNs, 0, 10000000000);
        heard += sinceNs * rate / 1000000000;
    }
    return std::max(std::min(heard, writtenFrames), previous);
}

PlaybackTiming timingFromServer(int64_t readIndexBytes, int64_t sinkUsec, int64_t transportUsec, bool playing,
                                bool corked, int64_t stampNs, int bytesPerFrame, int rate) {
    PlaybackTiming timing;
    timing.readFrame = std::max<int64_t>(readIndexBytes, 0) / bytesPerFrame;
    timing.stampNs = stampNs;
    if (corked) return timing;
    // The reply took transportUsec to come: the sink has played on that much since. The
    // listener is never past what the server has read.
    timing.latencyFrames = std::max<int64_t>(sinkUsec - transportUsec, 0) * rate / 1000000;
    timing.running = playing;
    return timing;
}

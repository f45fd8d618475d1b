// How long a frame takes from the moment its music level is taken until it is presented,
// estimated from the recent frames, so that the level can be taken for the moment the
// frame will be seen. Plain arithmetic; the frame loop feeds it and owns the one in use.
#pragma once
#include <cstdint>

struct FrameLead {
    static constexpr int FRAMES = 9;  // frames remembered
    int64_t times[FRAMES] = {};       // ns, one per frame, oldest overwritten first
    int count = 0;                    // frames remembered, 0..FRAMES
    int next = 0;                     // where the next frame goes, 0..FRAMES-1

    // One frame's time from its level to its presentation (ns, clamped to 0..100 ms: a
    // longer one is a stall, which the next frame does not repeat).
    void addFrame(int64_t ns);
    // The median of the remembered frames (ns), so that one stall or one quick frame
    // moves it little; 0 before the first.
    int64_t estimateNs() const;
};

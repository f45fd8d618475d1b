// The frame lead's running median.
#include "app/frame_lead.h"

#include <algorithm>

void FrameLead::addFrame(int64_t ns) {
    times[next] = std::clamp<int64_t>(ns, 0, 100000000);
    next = (next + 1) % FRAMES;
    count = std::min(count + 1, FRAMES);
}

int64_t FrameLead::estimateNs() const {
    if (count == 0) return 0;
    int64_t sorted[FRAMES];
    std::copy(times, times + count, sorted);
    std::nth_element(sorted, sorted + count / 2, sorted + count);
    return sorted[count / 2];
}

// The arithmetic of the av-sync measurement.
#include "tools/av_sync/sync_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

double envelope(const std::vector<ChunkStamp>& stamps, size_t from, size_t to, int rate) {
    double lowest = std::numeric_limits<double>::infinity();
    for (size_t i = from; i < to; ++i)
        lowest = std::min(lowest, double(stamps[i].timeNs) - double(stamps[i].endFrame) * 1e9 / rate);
    return lowest;
}

}  // namespace

SinkClock fitSinkClock(const std::vector<ChunkStamp>& stamps, int rate) {
    SinkClock clock;
    if (stamps.empty() || rate <= 0) return clock;
    std::map<int64_t, int> sizes;
    for (size_t i = 1; i < stamps.size(); ++i) ++sizes[stamps[i].endFrame - stamps[i - 1].endFrame];
    int most = 0;
    for (const auto& [size, count] : sizes)
        if (size > 0 && count > most) most = count, clock.blockFrames = size;
    clock.originNs = envelope(stamps, 0, stamps.size(), rate) + double(clock.blockFrames) * 1e9 / rate;
    const size_t half = stamps.size() / 2;
    if (half > 0) {
        const double first = envelope(stamps, 0, half, rate);
        const double second = envelope(stamps, half, stamps.size(), rate);
        const double spanS = double(stamps.back().timeNs - stamps.front().timeNs) / 2e9;
        if (spanS > 0) clock.driftNsPerS = (second - first) / spanS;
    }
    return clock;
}

double playedAtNs(const std::vector<ChunkStamp>& stamps, int rate, int64_t blockFrames, int64_t frame,
                  int64_t windowFrames) {
    double lowest = std::numeric_limits<double>::infinity();
    for (const ChunkStamp& s : stamps)
        if (s.endFrame >= frame && s.endFrame <= frame + windowFrames)
            lowest = std::min(lowest, double(s.timeNs) - double(s.endFrame) * 1e9 / rate);
    if (std::isinf(lowest)) return 0.0;
    return lowest + double(blockFrames + frame) * 1e9 / rate;
}

std::vector<ClockStep> findClockSteps(const std::vector<ChunkStamp>& stamps, int rate, int64_t windowFrames,
                                      double thresholdNs) {
    std::vector<ClockStep> steps;
    if (windowFrames <= 0 || rate <= 0) return steps;
    double previous = std::numeric_limits<double>::infinity();
    size_t i = 0;
    while (i < stamps.size()) {
        const int64_t window = stamps[i].endFrame / windowFrames;
        double lowest = std::numeric_limits<double>::infinity();
        for (; i < stamps.size() && stamps[i].endFrame / windowFrames == window; ++i)
            lowest = std::min(lowest, double(stamps[i].timeNs) - double(stamps[i].endFrame) * 1e9 / rate);
        if (!std::isinf(previous) && std::fabs(lowest - previous) > thresholdNs)
            steps.push_back({window * windowFrames, lowest - previous});
        previous = lowest;
    }
    return steps;
}

std::vector<int64_t> findOnsets(const std::vector<float>& mono, float threshold, int64_t gap) {
    std::vector<int64_t> onsets;
    int64_t next = 0;
    for (int64_t i = 0; i < int64_t(mono.size()); ++i) {
        if (i < next || std::fabs(mono[size_t(i)]) < threshold) continue;
        onsets.push_back(i);
        next = i + gap;
    }
    return onsets;
}

std::vector<int64_t> matchClicks(const std::vector<int64_t>& sinkOnsets, int sinkRate,
                                 const std::vector<int64_t>& trackOnsets, int trackRate, double lateMs) {
    std::vector<int64_t> matched(trackOnsets.size(), -1);
    if (sinkOnsets.empty() || trackOnsets.empty()) return matched;
    matched[0] = sinkOnsets[0];
    size_t next = 1;  // the first onset not yet passed over
    int64_t lastSink = sinkOnsets[0], lastTrack = trackOnsets[0];
    for (size_t k = 1; k < trackOnsets.size(); ++k) {
        const double expected = double(lastSink) + double(trackOnsets[k] - lastTrack) * sinkRate / trackRate;
        const double early = expected - 0.005 * sinkRate, late = expected + lateMs / 1000.0 * sinkRate;
        while (next < sinkOnsets.size() && double(sinkOnsets[next]) < early) ++next;
        if (next < sinkOnsets.size() && double(sinkOnsets[next]) < late) {
            matched[k] = sinkOnsets[next];
            lastSink = sinkOnsets[next];
            lastTrack = trackOnsets[k];
            ++next;
        }
    }
    return matched;
}

int firstFrameShowing(const std::vector<LoggedFrame>& frames, int64_t fromNs, int64_t toNs, float threshold) {
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].timeNs < fromNs) continue;
        if (frames[i].timeNs >= toNs) break;
        if (frames[i].level >= threshold && frames[i - 1].level < threshold) return int(i);
    }
    return -1;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The av-sync test track, built with the asset generator's oscillator.
#include "tools/av_sync/click_track.h"

#include <cmath>

#include "tools/make_assets/synth.h"

std::vector<int64_t> clickFrames() {
    std::vector<int64_t> frames;
    int64_t at = CLICK_LEAD_IN;
    for (int k = 0; k < CLICK_COUNT; ++k) {
        frames.push_back(at);
        at += 450 * 441 / 10 + (k * 7 % 11) * 1157;  // 450 ms + 0..10 x 26.2 ms
    }
    return frames;
}

std::vector<int16_t> synthesizeClickTrack() {
    const std::vector<int64_t> starts = clickFrames();
    const int64_t frames = starts.back() + CLICK_FRAMES + assets::SAMPLE_RATE;
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * 2, 0);
    constexpr int FADE = 220;  // 5 ms
    for (int64_t start : starts) {
        assets::Sine tone;
        tone.phase = 0.25;  // a cosine: the first sample is already at the peak
        for (int i = 0; i < CLICK_FRAMES; ++i) {
            const double fade = i < CLICK_FRAMES - FADE ? 1.0 : double(CLICK_FRAMES - i) / FADE;
            const double value = CLICK_AMPLITUDE * fade * tone.next(CLICK_HZ);
            const int16_t sample = static_cast<int16_t>(std::lround(value * 32767.0));
            const size_t at = static_cast<size_t>(start + i) * 2;
            pcm[at] = sample;
            pcm[at + 1] = sample;
        }
    }
    return pcm;
}

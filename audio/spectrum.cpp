// The spectrum of the moment being heard: a 1024-point real FFT (kissfft) of the mono
// mix through a periodic Hann window. Each thread keeps its own FFT tables, because
// kissfft's real transform writes into scratch space inside its configuration.
#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/music_track.h"

namespace {

constexpr int HALF_WINDOW = SPECTRUM_WINDOW / 2;

struct SpectrumTables {
    kiss_fftr_cfg fft;
    float window[SPECTRUM_WINDOW];  // periodic Hann, 0..1, peak 1 at the centre sample
    float scale;                    // 2 / sum of the window, so a full-scale sine gives 1

    SpectrumTables() : fft(kiss_fftr_alloc(SPECTRUM_WINDOW, 0, nullptr, nullptr)) {
        double sum = 0.0;
        for (int n = 0; n < SPECTRUM_WINDOW; ++n) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * n / SPECTRUM_WINDOW);
            window[n] = static_cast<float>(w);
            sum += w;
        }
        scale = static_cast<float>(2.0 / sum);
    }
    ~SpectrumTables() { kiss_fftr_free(fft); }
    SpectrumTables(const SpectrumTables&) = delete;
    SpectrumTables& operator=(const SpectrumTables&) = delete;
};

}  // namespace

void computeSpectrum(const MusicTrack& track, int64_t frame, float out[SPECTRUM_SIZE]) {
    std::fill(out, out + SPECTRUM_SIZE, 0.0f);
    const int channels = track.channels;
    const int64_t frameCount = track.frameCount.load(std::memory_order_acquire);
    if (frame < 0 || frame >= frameCount || channels <= 0 ||
        track.samples.size() < static_cast<size_t>(frameCount) * channels)
        return;

    thread_local SpectrumTables tables;
    if (!tables.fft) return;

    // Window sample n covers frame - 512 + n, so the centre sample (weight 1) is `frame`.
    float input[SPECTRUM_WINDOW];
    const int64_t first = frame - HALF_WINDOW;
    const float mix = 1.0f / static_cast<float>(channels);
    for (int n = 0; n < SPECTRUM_WINDOW; ++n) {
        const int64_t f = first + n;
        float sum = 0.0f;
        if (f >= 0 && f < frameCount) {
            const float* s = &track.samples[static_cast<size_t>(f) * channels];
            for (int c = 0; c < channels; ++c) sum += s[c];
        }
        input[n] = sum * mix * tables.window[n];
    }

    kiss_fft_cpx bins[SPECTRUM_WINDOW / 2 + 1];
    kiss_fftr(tables.fft, input, bins);
    for (int i = 0; i < SPECTRUM_SIZE; ++i) {
        const kiss_fft_cpx& b = bins[i + 1];
        const float magnitude = std::sqrt(b.r * b.r + b.i * b.i) * tables.scale;
        out[i] = std::min(magnitude, 1.0f);
    }
}

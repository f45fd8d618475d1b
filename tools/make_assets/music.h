// The demo's default track: a 144-second piece at 120 beats a minute in 4/4,
// composed and synthesised here, with its sections changing where the scenes do.
#pragma once
#include <cstdint>
#include <vector>

namespace assets {

constexpr int BEAT_FRAMES = 22050;                   // frames per beat at 120 BPM, 44.1 kHz
constexpr int TRACK_BEATS = 288;                     // 72 bars of 4 beats
constexpr int64_t TRACK_FRAMES = (int64_t)TRACK_BEATS * BEAT_FRAMES; // 6,350,400 = 144 s

// Figures of a synthesised track, for the generator's report.
struct MusicStats {
    double peakDbfs;  // highest |sample| relative to full scale, dB
    double rmsDbfs;   // RMS over both channels and the whole track, dB
};

// Synthesises the whole track: TRACK_FRAMES interleaved stereo frames of 16-bit PCM,
// left first. The first kick starts at frame 0. Fills `stats` when it is not null.
std::vector<int16_t> synthesizeMusic(MusicStats* stats = nullptr);

} // namespace assets

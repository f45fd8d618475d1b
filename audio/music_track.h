// A music track decoded whole into memory at 44.1 kHz, and the spectrum of the moment
// being heard. Plain code over the codec and FFT libraries: no SDL, no GL, no globals
// that callers see. Safe to call from any thread; nothing here keeps state between calls
// except each thread's FFT tables.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int MUSIC_RATE = 44100;     // frames per second of every decoded track
constexpr int MUSIC_MAX_SECONDS = 600; // decoded at most; the demo plays 144 s of it
constexpr int SPECTRUM_SIZE = 512;    // values handed out per spectrum
constexpr int SPECTRUM_WINDOW = 1024; // samples per analysis window (23.2 ms at 44.1 kHz)

struct MusicTrack {
    std::vector<float> samples;  // interleaved, -1..1, channels * frameCount values
    int channels = 0;            // 2 for every decoded track
    int64_t frameCount = 0;      // frames at MUSIC_RATE
};

// Decodes a whole MP3 file image into `track` (stereo float, MUSIC_RATE; a file at
// another rate is resampled). Encoder delay and padding are trimmed, so frame 0 is the
// first sample the encoder was given. Decoding stops after MUSIC_MAX_SECONDS. Returns
// false with a short reason when no track is found (less than a second of MPEG audio
// that is also less than half of what the file holds: "no MPEG audio found"). On
// success `reason` is cleared, or names damage that was skipped over or a length cut
// short at the limit (the track then holds everything that did decode).
bool decodeMusic(const unsigned char* data, size_t size, MusicTrack& track, std::string* reason);

// The spectrum of what is heard while frame `frame` (from the track's start, at
// MUSIC_RATE) plays: value i is bin i + 1 of a 1024-point FFT (43.07 Hz apart) of the
// mono mix through a periodic Hann window centred on that frame, scaled so that a
// full-scale sine on a bin gives 1.0, clamped to 0..1. Samples outside the track count as
// silence, and a frame outside the track gives all zeros. Allocates nothing after the
// first call on a thread.
void computeSpectrum(const MusicTrack& track, int64_t frame, float out[SPECTRUM_SIZE]);

// Copies `frames` frames of the track from frame `position` into `out` as `outChannels`
// interleaved channels (a track channel missing from the track repeats its last one);
// frames before the start or past the end of the track are silence. Allocates nothing.
void copyTrackFrames(const MusicTrack& track, int64_t position, int64_t frames, int outChannels,
                     float* out);

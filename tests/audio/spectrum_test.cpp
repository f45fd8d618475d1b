// The pure spectrum: bin layout, scale, window position and the mono mix.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/music_track.h"
#include "tests/audio/audio_test_support.h"

namespace {

constexpr double BIN_HZ = double(MUSIC_RATE) / SPECTRUM_WINDOW;  // 43.07 Hz

struct Spectrum {
    float v[SPECTRUM_SIZE];
};

Spectrum spectrumAt(const MusicTrack& track, int64_t frame) {
    Spectrum s;
    computeSpectrum(track, frame, s.v);
    return s;
}

float largestOutside(const Spectrum& s, int from, int to) {
    float m = 0.0f;
    for (int i = 0; i < SPECTRUM_SIZE; ++i)
        if (i < from || i > to) m = std::max(m, s.v[i]);
    return m;
}

TEST(Spectrum, SineOnABinGivesItsAmplitudeThereAndHalfBesideIt) {
    for (int bin : {1, 2, 10, 93, 300, 510}) {  // 511 would leak into the Nyquist bin
        for (float amplitude : {1.0f, 0.25f}) {
            const MusicTrack track = makeTrack(sine(bin * BIN_HZ, amplitude, 8192, 2), 2);
            const Spectrum s = spectrumAt(track, 4000);
            const int i = bin - 1;  // value i is bin i + 1
            EXPECT_NEAR(s.v[i], amplitude, 1e-4f) << "bin " << bin;
            if (i > 0) {
                EXPECT_NEAR(s.v[i - 1], amplitude / 2, 1e-4f) << "bin " << bin;
            }
            EXPECT_NEAR(s.v[i + 1], amplitude / 2, 1e-4f) << "bin " << bin;
            EXPECT_LT(largestOutside(s, i - 1, i + 1), 1e-4f) << "bin " << bin;
        }
    }
}

TEST(Spectrum, SineBetweenTwoBinsSplitsEvenlyWithTheWindowsScallopLoss) {
    const MusicTrack track = makeTrack(sine(40.5 * BIN_HZ, 1.0, 4096, 2), 2);
    const Spectrum s = spectrumAt(track, 2048);
    // Bins 40 and 41 are values 39 and 40; a periodic Hann window loses 1.42 dB half a bin off.
    EXPECT_NEAR(s.v[39], 0.8488f, 2e-3f);
    EXPECT_NEAR(s.v[40], 0.8488f, 2e-3f);
    EXPECT_LT(s.v[38], 0.25f);
    EXPECT_LT(s.v[41], 0.25f);
    EXPECT_LT(largestOutside(s, 30, 50), 0.01f);
}

TEST(Spectrum, SilenceAndFramesOutsideTheTrackGiveExactZeros) {
    const MusicTrack silent = makeTrack(std::vector<float>(2 * 4096, 0.0f), 2);
    const MusicTrack loud = makeTrack(sine(10 * BIN_HZ, 1.0, 4096, 2), 2);
    const MusicTrack empty;
    for (const Spectrum& s : {spectrumAt(silent, 2000), spectrumAt(loud, -1), spectrumAt(loud, 4096),
                              spectrumAt(loud, 1 << 30), spectrumAt(empty, 0)})
        for (float v : s.v) ASSERT_EQ(v, 0.0f);
}

TEST(Spectrum, ConstantOffsetShowsOnlyInTheLowestValue) {
    // The window's own shape puts a DC level a into bin 1 at full size and nowhere higher.
    const MusicTrack track = makeTrack(std::vector<float>(2 * 4096, 0.3f), 2);
    const Spectrum s = spectrumAt(track, 2048);
    EXPECT_NEAR(s.v[0], 0.3f, 1e-5f);
    EXPECT_LT(largestOutside(s, 0, 0), 1e-5f);
}

TEST(Spectrum, ValuesAreClampedToOne) {
    // A full-scale square wave's fundamental is 4/pi = 1.27 of full scale.
    std::vector<float> square = sine(8 * BIN_HZ, 1.0, 4096, 1);
    for (float& v : square) v = v >= 0.0f ? 1.0f : -1.0f;
    const Spectrum s = spectrumAt(makeTrack(square, 1), 2048);
    EXPECT_EQ(s.v[7], 1.0f);
    for (float v : s.v) EXPECT_LE(v, 1.0f);
}

TEST(Spectrum, AnImpulseReachesOnlyPositionsWithinHalfAWindow) {
    constexpr int64_t AT = 10000;
    std::vector<float> samples(2 * 30000, 0.0f);
    samples[2 * AT] = samples[2 * AT + 1] = 1.0f;
    const MusicTrack track = makeTrack(samples, 2);

    // Centred on the impulse: every bin sees it at full window weight, 2 / sum(w) = 1/256.
    const Spectrum centre = spectrumAt(track, AT);
    for (float v : centre.v) ASSERT_NEAR(v, 1.0f / 256.0f, 1e-6f);

    for (int64_t frame : {AT - 511, AT - 200, AT + 200, AT + 511})
        EXPECT_GT(spectrumAt(track, frame).v[5], 0.0f) << frame;
    for (int64_t frame : {AT - 512, AT + 512, AT - 5000, AT + 5000}) {
        const Spectrum s = spectrumAt(track, frame);
        EXPECT_EQ(largestOutside(s, -1, -1), 0.0f) << frame;
    }
    // The window is symmetric about its centre sample.
    EXPECT_FLOAT_EQ(spectrumAt(track, AT - 100).v[0], spectrumAt(track, AT + 100).v[0]);
}

TEST(Spectrum, AnalysesTheMeanOfTheChannels) {
    const int64_t frames = 4096;
    const std::vector<float> tone = sine(30 * BIN_HZ, 1.0, frames, 1);
    std::vector<float> opposite(2 * frames), leftOnly(2 * frames, 0.0f);
    for (int64_t f = 0; f < frames; ++f) {
        opposite[2 * f] = tone[f];
        opposite[2 * f + 1] = -tone[f];
        leftOnly[2 * f] = tone[f];
    }
    EXPECT_LT(largestOutside(spectrumAt(makeTrack(opposite, 2), 2048), -1, -1), 1e-6f);
    EXPECT_NEAR(spectrumAt(makeTrack(leftOnly, 2), 2048).v[29], 0.5f, 1e-4f);
    EXPECT_NEAR(spectrumAt(makeTrack(tone, 1), 2048).v[29], 1.0f, 1e-4f);
}

}  // namespace

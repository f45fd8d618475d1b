// Decoding MP3 images synthesised at test time: exact length and no offset after the
// round trip, other rates and mono, and every kind of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "audio/music_track.h"
#include "tests/audio/audio_test_support.h"
#include "tools/music_plot/mp3_encode.h"

namespace {

// Left: a 440 Hz tone swelling and fading every 0.3 s; right: 1 kHz bursts on another
// rhythm. Distinct shapes, so a shift or a channel swap shows at once.
std::vector<float> distinctStereo(int64_t frames, int rate) {
    std::vector<float> s(size_t(frames) * 2);
    for (int64_t f = 0; f < frames; ++f) {
        const double t = double(f) / rate;
        s[2 * f] = float(0.5 * std::sin(2 * M_PI * 440 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * t / 0.3)));
        s[2 * f + 1] = float(0.4 * std::sin(2 * M_PI * 1000 * t) * (std::fmod(t, 0.17) < 0.05 ? 1.0 : 0.1));
    }
    return s;
}

// Sum of squared differences between channel `c` of `decoded` shifted by `lag` frames and
// channel `c` of `original`, over the middle of the track.
double mismatch(const std::vector<float>& decoded, const std::vector<float>& original, int64_t frames,
                int lag, int c, int fromChannel) {
    double sum = 0.0;
    for (int64_t f = 5000; f < frames - 5000; ++f) {
        const double d = decoded[2 * (f + lag) + c] - original[2 * f + fromChannel];
        sum += d * d;
    }
    return sum;
}

double energy(const std::vector<float>& s, int64_t frames, int c) {
    double sum = 0.0;
    for (int64_t f = 5000; f < frames - 5000; ++f) sum += double(s[2 * f + c]) * s[2 * f + c];
    return sum;
}

MusicTrack decodeOrFail(const std::vector<unsigned char>& mp3, std::string* reason = nullptr) {
    MusicTrack track;
    std::string why;
    EXPECT_TRUE(decodeMusic(mp3.data(), mp3.size(), track, &why)) << why;
    if (reason) *reason = why;
    return track;
}

TEST(Decode, RoundTripKeepsExactLengthNoOffsetAndChannelOrder) {
    const int64_t frames = 2 * 44100 + 123;  // not a whole number of MP3 frames
    const std::vector<float> original = distinctStereo(frames, 44100);
    std::string reason;
    const MusicTrack track = decodeOrFail(encodeOrFail(original, 2, 44100), &reason);
    EXPECT_EQ(reason, "");
    ASSERT_EQ(track.channels, 2);
    ASSERT_EQ(track.frameCount, frames);
    ASSERT_EQ(track.samples.size(), size_t(frames) * 2);

    for (int c = 0; c < 2; ++c) {
        const double atZero = mismatch(track.samples, original, frames, 0, c, c);
        EXPECT_LT(atZero, 0.01 * energy(original, frames, c)) << "channel " << c;
        for (int lag = -64; lag <= 64; ++lag) {
            if (lag == 0) continue;
            EXPECT_GT(mismatch(track.samples, original, frames, lag, c, c), atZero) << lag;
        }
        EXPECT_GT(mismatch(track.samples, original, frames, 0, c, 1 - c), 10 * atZero) << "swapped";
    }
}

TEST(Decode, OtherRatesAreResampledTo44100WithoutShift) {
    for (int rate : {48000, 32000, 22050}) {
        const int64_t frames = rate * 3 / 2;
        // A short 1 kHz burst whose peak sits at 0.75 s, on silence.
        std::vector<float> original(size_t(frames) * 2, 0.0f);
        for (int64_t f = 0; f < frames; ++f) {
            const double t = double(f) / rate - 0.75;
            if (std::fabs(t) < 0.01) {
                const float v = float(0.8 * std::cos(2 * M_PI * 1000 * t) * (0.5 + 0.5 * std::cos(M_PI * t / 0.01)));
                original[2 * f] = original[2 * f + 1] = v;
            }
        }
        const MusicTrack track = decodeOrFail(encodeOrFail(original, 2, rate, 128));
        EXPECT_EQ(track.frameCount, int64_t(std::llround(double(frames) * MUSIC_RATE / rate))) << rate;
        int64_t peak = 0;
        for (int64_t f = 0; f < track.frameCount; ++f)
            if (std::fabs(track.samples[2 * f]) > std::fabs(track.samples[2 * peak])) peak = f;
        EXPECT_NEAR(double(peak), 0.75 * MUSIC_RATE, 3.0) << rate;

        float spectrum[SPECTRUM_SIZE];
        computeSpectrum(track, peak, spectrum);
        EXPECT_EQ(std::max_element(spectrum, spectrum + SPECTRUM_SIZE) - spectrum, 22) << rate;  // 990 Hz
    }
}

TEST(Decode, MonoBecomesTwoEqualChannels) {
    const MusicTrack track = decodeOrFail(encodeOrFail(sine(300, 0.5, 44100, 1), 1, 44100, 96));
    ASSERT_EQ(track.channels, 2);
    ASSERT_EQ(track.frameCount, 44100);
    for (int64_t f = 0; f < track.frameCount; ++f) ASSERT_EQ(track.samples[2 * f], track.samples[2 * f + 1]);
    EXPECT_GT(std::fabs(track.samples[2 * 1000]) + std::fabs(track.samples[2 * 1001]), 0.0f);
}

void expectRejected(const std::vector<unsigned char>& bytes, const char* what) {
    MusicTrack track;
    track.frameCount = 99;  // must be cleared
    std::string reason;
    EXPECT_FALSE(decodeMusic(bytes.data(), bytes.size(), track, &reason)) << what;
    EXPECT_NE(reason, "") << what;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << what;
    EXPECT_EQ(track.frameCount, 0) << what;
    EXPECT_TRUE(track.samples.empty()) << what;
}

TEST(Decode, BadInputsAreRejectedWithAReason) {
    MusicTrack track;
    std::string reason;
    EXPECT_FALSE(decodeMusic(nullptr, 0, track, &reason));
    EXPECT_EQ(reason, "empty file");
    expectRejected({}, "empty");

    std::mt19937 random(7);
    for (size_t size : {1u, 100u, 4096u, 65536u, 1000000u}) {
        std::vector<unsigned char> bytes(size);
        for (auto& b : bytes) b = static_cast<unsigned char>(random());
        expectRejected(bytes, "random bytes");
    }
    expectRejected(wavOfNoise(44100, 1), "WAV of noise");
    expectRejected(wavOfNoise(44100 * 5, 2), "longer WAV of noise");
    const std::string text = "music.mp3 is not here, this is just a note\n";
    expectRejected({text.begin(), text.end()}, "text");

    const std::vector<unsigned char> mp3 = encodeOrFail(sine(440, 0.5, 44100, 2), 2, 44100);
    expectRejected({mp3.begin(), mp3.begin() + 200}, "only the start of the first frame");
    std::vector<unsigned char> noSync = mp3;
    for (auto& b : noSync)
        if (b == 0xff) b = 0x7f;  // no frame header survives
    expectRejected(noSync, "every sync word broken");
}

// Files that are not MP3 but show a few chance frame headers, and a real one whose Info
// tag lies about its length.
TEST(Decode, ChanceFramesAreNoTrackAndLengthClaimsAreBoundedByTheFile) {
    const std::vector<float> beat = synthBeat(5.0, 44100, 120);
    for (const auto& bytes : {wavOfStereo(beat), wavOfStereo(sine(300, 0.7, 44100 * 3, 2))}) {
        MusicTrack track;
        std::string reason;
        EXPECT_FALSE(decodeMusic(bytes.data(), bytes.size(), track, &reason));
        EXPECT_EQ(reason.rfind("no MPEG audio found", 0), 0u) << reason;
        EXPECT_EQ(track.frameCount, 0);
    }

    // The Info tag's frame count (after "Info" and four flag bytes) says 4 million MP3
    // frames, some 29 hours: the track still decodes whole, and the line says why it ends.
    std::vector<unsigned char> mp3 = encodeOrFail(beat, 2, 44100, 128);
    const MusicTrack honest = decodeOrFail(mp3);
    const auto info = std::search(mp3.begin(), mp3.end(), std::begin("Info"), std::end("Info") - 1);
    ASSERT_NE(info, mp3.end());
    const unsigned char frames[4] = {0x00, 0x3D, 0x09, 0x00};  // 4,000,000, big-endian
    std::copy(frames, frames + 4, info + 8);
    std::string reason;
    const MusicTrack lied = decodeOrFail(mp3, &reason);
    EXPECT_NE(reason.find("Info tag claims"), std::string::npos) << reason;
    // Without a believable end the encoder's padding stays in: at most one MP3 frame more.
    EXPECT_GE(lied.frameCount, honest.frameCount);
    EXPECT_LE(lied.frameCount, honest.frameCount + 1152);
    EXPECT_EQ(std::memcmp(lied.samples.data(), honest.samples.data(), sizeof(float) * 2 * honest.frameCount), 0);
}

TEST(Decode, DamageKeepsWhatDecodesAndSaysSo) {
    const int64_t frames = 3 * 44100;
    const std::vector<unsigned char> mp3 = encodeOrFail(synthBeat(3.0, 44100, 120), 2, 44100, 128);
    const MusicTrack clean = decodeOrFail(mp3);
    ASSERT_EQ(clean.frameCount, frames);

    std::string reason;
    std::vector<unsigned char> damaged = mp3;
    std::mt19937 random(3);
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 1500; ++i)
        damaged[i] = static_cast<unsigned char>(random());
    const MusicTrack kept = decodeOrFail(damaged, &reason);
    EXPECT_NE(reason, "");
    // Playing goes on after the damage: only a few MP3 frames (1152 samples each) are lost.
    EXPECT_GT(kept.frameCount, frames - 8 * 1152);
    EXPECT_LT(kept.frameCount, frames);
    EXPECT_EQ(std::memcmp(kept.samples.data(), clean.samples.data(), sizeof(float) * 2 * frames / 3), 0);

    const std::vector<unsigned char> half(mp3.begin(), mp3.begin() + mp3.size() / 2);
    const MusicTrack start = decodeOrFail(half, &reason);
    EXPECT_NE(reason, "");
    EXPECT_NEAR(double(start.frameCount), frames / 2.0, 3 * 1152.0);
    EXPECT_EQ(std::memcmp(start.samples.data(), clean.samples.data(), sizeof(float) * 2 * frames / 3), 0);
}

// 200 KB of garbage in the middle, put in or written over the music: decoding goes on
// after it, says how much it skipped, and what plays after it is the music itself, so
// its spectrum is the clean track's.
TEST(Decode, GarbageInTheMiddleIsSkippedAndTheRestDecodes) {
    const int64_t frames = 6 * 44100;
    const std::vector<unsigned char> mp3 = encodeOrFail(synthBeat(6.0, 44100, 120), 2, 44100, 128);
    const MusicTrack clean = decodeOrFail(mp3);
    ASSERT_EQ(clean.frameCount, frames);
    std::vector<unsigned char> garbage(200 * 1024);
    std::mt19937 random(7);
    for (unsigned char& c : garbage) c = static_cast<unsigned char>(random());

    std::vector<unsigned char> inserted = mp3;
    inserted.insert(inserted.begin() + inserted.size() / 2, garbage.begin(), garbage.end());
    std::string reason;
    const MusicTrack all = decodeOrFail(inserted, &reason);
    EXPECT_NE(reason.find("200 KiB of damaged data skipped"), std::string::npos) << reason;
    ASSERT_EQ(all.frameCount, frames);  // nothing was lost
    // Two MP3 frames at the seam lack the bits they borrow from the frames before them.
    const int64_t seam = frames / 2 + 4 * 1152;
    EXPECT_EQ(std::memcmp(all.samples.data(), clean.samples.data(), sizeof(float) * 2 * (frames / 2 - 2 * 1152)), 0);
    EXPECT_EQ(std::memcmp(&all.samples[2 * seam], &clean.samples[2 * seam], sizeof(float) * 2 * (frames - seam)), 0);
    float heard[SPECTRUM_SIZE], original[SPECTRUM_SIZE];
    computeSpectrum(all, frames * 3 / 4, heard);
    computeSpectrum(clean, frames * 3 / 4, original);
    EXPECT_EQ(std::memcmp(heard, original, sizeof heard), 0);

    // Written over the music: what follows plays on at once, and the loss is stated.
    std::vector<unsigned char> overwritten(mp3.begin(), mp3.begin() + mp3.size() / 2);
    overwritten.insert(overwritten.end(), garbage.begin(), garbage.end());
    overwritten.insert(overwritten.end(), mp3.begin() + mp3.size() / 2 + 16000, mp3.end());
    const MusicTrack rest = decodeOrFail(overwritten, &reason);
    EXPECT_NE(reason.find("damaged data skipped"), std::string::npos) << reason;
    EXPECT_NE(reason.find(" of 6.00 s decoded"), std::string::npos) << reason;
    // 16000 bytes at 128 kbit/s are 1 s of music.
    EXPECT_NEAR(double(rest.frameCount), frames - 44100.0, 4 * 1152.0);
    // The music after the damage, a whole number of MP3 frames earlier than it was.
    const int64_t at = frames - 44100, span = 22050;
    int64_t lostFrames = -1;
    for (int64_t k = 0; k < 100 && lostFrames < 0; ++k)
        if (std::memcmp(&rest.samples[2 * (at - k * 1152)], &clean.samples[2 * at], sizeof(float) * 2 * span) == 0)
            lostFrames = k;
    EXPECT_NEAR(double(lostFrames), 44100.0 / 1152, 3.0);
}

TEST(TrackFrames, SpansBeyondTheTrackAreSilenceAndChannelsAreMapped) {
    MusicTrack stereo;
    stereo.channels = 2;
    stereo.frameCount = 3;
    stereo.samples = {1, -1, 2, -2, 3, -3};
    std::vector<float> out(10, 9.0f);
    copyTrackFrames(stereo, -2, 5, 2, out.data());  // two frames before the start, all three
    EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 0, 1, -1, 2, -2, 3, -3}));
    copyTrackFrames(stereo, 2, 5, 2, out.data());  // the last frame, then past the end
    EXPECT_EQ(out, (std::vector<float>{3, -3, 0, 0, 0, 0, 0, 0, 0, 0}));
    copyTrackFrames(stereo, 7, 5, 2, out.data());
    EXPECT_EQ(out, std::vector<float>(10, 0.0f));

    MusicTrack mono;
    mono.channels = 1;
    mono.frameCount = 2;
    mono.samples = {0.5f, -0.25f};
    std::vector<float> two(4, 9.0f);
    copyTrackFrames(mono, 0, 2, 2, two.data());
    EXPECT_EQ(two, (std::vector<float>{0.5f, 0.5f, -0.25f, -0.25f}));
}

}  // namespace

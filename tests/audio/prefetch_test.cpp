// The music decoded on a thread of its own while it plays, slowed down on purpose so that
// playback and the spectrum catch up with it: nothing unfinished is ever heard or
// analysed (frames not yet decoded hold NaN, which would show), the spectrum equals the
// one of the whole track at every position from the first frame, and every bad file
// still gives its one line.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/music_player.h"
#include "audio/sound_device.h"
#include "tests/audio/audio_test_support.h"
#include "tools/music_plot/mp3_encode.h"

namespace {

constexpr int64_t TRACK_FRAMES = 2 * 44100;
constexpr int SLOW_PIECE_US = 25000;  // 25 ms per 8192-frame piece: about 7 x real time

const std::vector<unsigned char>& beatMp3() {
    static const std::vector<unsigned char> mp3 = encodeOrFail(synthBeat(2.0, 44100, 120), 2, 44100, 128);
    return mp3;
}

std::string beatPath() {
    static const std::string path = [] {
        const std::string p = scratchPath("prefetch-beat.mp3");
        writeFile(p, beatMp3());
        return p;
    }();
    return path;
}

bool hasNaN(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (std::isnan(values[i])) return true;
    return false;
}

// Waits until the player's slot-0 decode has ended: a spectrum past any end waits for it.
void waitForTheWholeTrack(MusicPlayer& player) {
    player.setListeningPosition(int64_t(1) << 40);
    player.spectrum();
    player.listening = false;
}

template <typename Action>
std::string stderrOf(Action action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

class Prefetch : public testing::Test {
protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
    void TearDown() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("SDL_DISKAUDIODELAY");
    }
};

TEST_F(Prefetch, SpectrumIsExactFromTheFirstFrameWhileTheTrackDecodes) {
    MusicTrack whole;
    std::string reason;
    ASSERT_TRUE(decodeMusic(beatMp3().data(), beatMp3().size(), whole, &reason)) << reason;

    MusicPlayer player;
    player.prefetchStream(0, beatPath().c_str(), SLOW_PIECE_US);
    EXPECT_EQ(stderrOf([&] { ASSERT_TRUE(player.loadStream(0, beatPath().c_str())); }), "");
    const MusicTrack* growing = player.track(0);
    ASSERT_NE(growing, nullptr);
    ASSERT_LT(growing->frameCount, TRACK_FRAMES) << "the decode was not slow enough to test anything";

    // Positions ahead of the decode, at piece edges and past the end, asked for at once.
    const int64_t frames[] = {0, 300, 7680, 8191, 8192, 16384 + 511, 22050, 50000, 88199, 88200, 90000};
    std::vector<std::vector<float>> seen;
    for (int64_t frame : frames) {
        player.setListeningPosition(frame);
        const float* values = player.spectrum();
        seen.emplace_back(values, values + SPECTRUM_SIZE);
    }
    waitForTheWholeTrack(player);
    ASSERT_EQ(growing->frameCount, TRACK_FRAMES);
    ASSERT_EQ(0, std::memcmp(growing->samples.data(), whole.samples.data(), sizeof(float) * 2 * TRACK_FRAMES));

    float expected[SPECTRUM_SIZE];
    for (size_t i = 0; i < seen.size(); ++i) {
        computeSpectrum(whole, frames[i], expected);
        for (int b = 0; b < SPECTRUM_SIZE; ++b) ASSERT_EQ(seen[i][b], expected[b]) << frames[i] << " " << b;
    }
}

TEST_F(Prefetch, PlaybackOvertakingTheDecodePlaysSilenceNeverUnfinishedData) {
    // The disk driver plays about 20 x real time, three times faster than the slowed
    // decode: after the first piece it is always past what is decoded.
    const std::string raw = scratchPath("prefetch-device.raw");
    std::remove(raw.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);  // about 20 x real time: ahead of the slowed decode

    MusicPlayer player;
    ASSERT_TRUE(player.initMusic());
    player.prefetchStream(0, beatPath().c_str(), SLOW_PIECE_US);
    ASSERT_TRUE(player.loadStream(0, beatPath().c_str()));
    player.playStream(0, 0);
    // The spectrum of the heard position all along: never of unfinished frames.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    int spectra = 0;
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_FALSE(hasNaN(player.spectrum(), SPECTRUM_SIZE));
        ++spectra;
    }
    waitForTheWholeTrack(player);
    player.stopStream(0);
    player.closeMusic();
    EXPECT_GT(spectra, 10);

    std::vector<float> heard;
    std::FILE* file = std::fopen(raw.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    float block[4096];
    size_t got;
    while ((got = std::fread(block, sizeof(float), 4096, file)) > 0) heard.insert(heard.end(), block, block + got);
    std::fclose(file);
    ASSERT_GT(heard.size(), size_t(2 * TRACK_FRAMES));
    EXPECT_FALSE(hasNaN(heard.data(), heard.size()));

    // The first piece was played as decoded; after it every frame is either the track's
    // own or silence where the device, faster than the slowed decode, ran past what was
    // decoded (as it does past a track's end): never anything else.
    MusicTrack whole;
    std::string reason;
    ASSERT_TRUE(decodeMusic(beatMp3().data(), beatMp3().size(), whole, &reason)) << reason;
    size_t trackStart = 0, heardStart = 0;
    while (whole.samples[trackStart] == 0.0f) ++trackStart;
    while (heardStart < heard.size() && heard[heardStart] == 0.0f) ++heardStart;
    ASSERT_GE(heardStart, trackStart);
    const size_t offset = heardStart - trackStart;  // floats before the track's frame 0
    const size_t piece = 2 * 8192;
    ASSERT_GE(heard.size(), offset + 2 * piece);
    EXPECT_EQ(0, std::memcmp(&heard[offset], whole.samples.data(), sizeof(float) * piece));
    size_t silent = 0, other = 0;
    const size_t trackFloats = whole.samples.size();
    for (size_t i = offset + piece; i < heard.size(); ++i) {
        const size_t t = i - offset;
        if (heard[i] == 0.0f)
            ++silent;
        else if (t >= trackFloats || heard[i] != whole.samples[t])
            ++other;
    }
    EXPECT_EQ(other, 0u) << "samples that are neither the track's at their place nor silence";
    // How far the device ran ahead depends on how the machine shares its time between the
    // two threads; on an idle machine it is most of the track.
    std::printf("silent samples after the first piece: %zu\n", silent);
    std::remove(raw.c_str());
}

TEST_F(Prefetch, DecodeStopsAfterItsLeadUntilTheTrackIsLoadedOrAskedFor) {
    const int64_t lead = 12 * 8192, frames = 6 * 44100;
    const std::vector<unsigned char> mp3 = encodeOrFail(synthBeat(6.0, 44100, 120), 2, 44100, 128);
    const std::string path = scratchPath("prefetch-six.mp3");
    writeFile(path, mp3);
    MusicTrack whole;
    std::string reason;
    ASSERT_TRUE(decodeMusic(mp3.data(), mp3.size(), whole, &reason)) << reason;

    for (bool ask : {false, true}) {
        SCOPED_TRACE(ask ? "spectrum asked for" : "left alone");
        MusicPlayer player;
        player.prefetchStream(0, path.c_str());
        ASSERT_NE(player.prefetches[0], nullptr);
        const MusicTrack& ahead = player.prefetches[0]->stream->decode.track;
        for (int i = 0; i < 500 && ahead.frameCount < lead; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(ahead.frameCount, lead);  // held there, not at the end

        ASSERT_TRUE(player.loadStream(0, path.c_str()));
        const MusicTrack* track = player.track(0);
        if (ask) {
            // Beyond the lead: the spectrum waits for it, exact.
            player.setListeningPosition(5 * 44100);
            float expected[SPECTRUM_SIZE];
            computeSpectrum(whole, 5 * 44100, expected);
            EXPECT_EQ(0, std::memcmp(player.spectrum(), expected, sizeof expected));
        }
        // Left alone, it goes on by itself after the track was taken over.
        for (int i = 0; i < 1000 && track->frameCount < frames; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(track->frameCount, frames);
        EXPECT_EQ(0, std::memcmp(track->samples.data(), whole.samples.data(), sizeof(float) * 2 * frames));
    }
}

TEST_F(Prefetch, EveryBadFileStillGivesItsOneLine) {
    std::vector<unsigned char> damaged = beatMp3();
    for (size_t i = damaged.size() * 3 / 4; i < damaged.size() * 3 / 4 + 800; ++i) damaged[i] = 0;
    std::vector<unsigned char> noise(50000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 7919 >> 3);
    struct Case {
        std::string path;
        bool loads;
    } cases[] = {
        {"no-such-folder/music.mp3", false},
        {scratchPath("prefetch-empty.mp3"), false},
        {scratchPath("prefetch-noise.mp3"), false},
        {scratchPath("prefetch-damaged.mp3"), true},
    };
    writeFile(cases[1].path, {});
    writeFile(cases[2].path, noise);
    writeFile(cases[3].path, damaged);
    for (const Case& c : cases) {
        MusicPlayer player;
        const std::string printed = stderrOf([&] {
            player.prefetchStream(0, c.path.c_str(), SLOW_PIECE_US);
            EXPECT_EQ(player.loadStream(0, c.path.c_str()), c.loads) << c.path;
            waitForTheWholeTrack(player);  // a damage found later is reported by then
        });
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << c.path << ": " << printed;
        EXPECT_NE(printed.find(c.path), std::string::npos) << printed;
        EXPECT_EQ(player.track(0) != nullptr, c.loads) << c.path;
    }

    // A prefetch of another file is not taken over: that load reads its own.
    MusicPlayer player;
    player.prefetchStream(0, cases[0].path.c_str());
    EXPECT_EQ(stderrOf([&] { EXPECT_TRUE(player.loadStream(0, beatPath().c_str())); }), "");
    ASSERT_NE(player.track(0), nullptr);
    EXPECT_EQ(player.track(0)->frameCount, TRACK_FRAMES);
}

}  // namespace

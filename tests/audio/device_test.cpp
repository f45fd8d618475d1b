// The real audio path on SDL's disk driver: what the device received, and the position
// the spectrum takes as being heard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio/sound_device.h"
#include "tests/audio/audio_test_support.h"
#include "tools/music_plot/mp3_encode.h"

namespace {

constexpr int BUFFER = 1024;  // frames per callback

// Points SDL at the disk driver writing `file`, `delayMs` between buffers (0: flat out).
class DiskDevice : public testing::Test {
protected:
    void openDisk(const std::string& name, const char* delayMs) {
        path = scratchPath(name);
        std::remove(path.c_str());
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", delayMs, 1);
        std::string reason;
        ASSERT_TRUE(openSoundDevice(BUFFER, &reason)) << reason;
        ASSERT_EQ(soundBufferFrames(), BUFFER);
        ASSERT_EQ(soundLatencyFrames(), BUFFER) << "the disk driver plays what it is handed at once";
    }
    void TearDown() override {
        closeSoundDevice();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("SDL_DISKAUDIODELAY");
    }
    // Everything the device wrote, as interleaved stereo floats.
    std::vector<float> received() const {
        std::vector<float> samples;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return samples;
        float block[4096];
        size_t got;
        while ((got = std::fread(block, sizeof(float), 4096, file)) > 0) samples.insert(samples.end(), block, block + got);
        std::fclose(file);
        return samples;
    }
    std::string path;
};

MusicTrack decodedBeat(double seconds) {
    const std::vector<unsigned char> mp3 = encodeOrFail(synthBeat(seconds, 44100, 130), 2, 44100, 128);
    MusicTrack track;
    std::string reason;
    EXPECT_TRUE(decodeMusic(mp3.data(), mp3.size(), track, &reason)) << reason;
    return track;
}

TEST_F(DiskDevice, ReceivesTheDecodedSamplesInOrderNothingDroppedOrDoubled) {
    const MusicTrack track = decodedBeat(1.5);
    ASSERT_EQ(track.frameCount, int64_t(1.5 * 44100));
    openDisk("device-received.raw", "0");
    playSound(&track, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (lastHandOver().frame < track.frameCount + 2 * BUFFER && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stopSound();
    const int64_t handedOver = lastHandOver().frame;
    closeSoundDevice();
    ASSERT_GE(handedOver, track.frameCount);

    // The device ran silent before playSound, in whole buffers; then the track, frame for
    // frame; then silence again.
    const std::vector<float> out = received();
    const size_t trackValues = track.samples.size();
    size_t start = 0;
    while (start < out.size() && out[start] == 0.0f) ++start;
    start -= start % (2 * BUFFER);
    ASSERT_GE(out.size(), start + trackValues) << "the device got less than the track";
    EXPECT_EQ(std::memcmp(&out[start], track.samples.data(), trackValues * sizeof(float)), 0);
    size_t firstDifference = 0;
    while (firstDifference < trackValues && out[start + firstDifference] == track.samples[firstDifference])
        ++firstDifference;
    EXPECT_EQ(firstDifference, trackValues) << "frame " << firstDifference / 2;
    for (size_t i = start + trackValues; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << "value " << i;
    EXPECT_EQ(out.size() % (2 * BUFFER), 0u);
}

TEST_F(DiskDevice, StartsFromTheGivenFrameAndStopsAtOnce) {
    const MusicTrack track = decodedBeat(3.0);
    openDisk("device-from-frame.raw", "5");  // 5 ms a buffer: the stop lands mid-track
    playSound(&track, 30000);
    while (lastHandOver().frame < 30000 + 4 * BUFFER) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stopSound();
    const int64_t handedOver = lastHandOver().frame;
    closeSoundDevice();
    ASSERT_LT(handedOver, track.frameCount) << "stopped too late to tell";

    const std::vector<float> out = received();
    size_t start = 0;
    while (start < out.size() && out[start] == 0.0f) ++start;
    start -= start % (2 * BUFFER);
    const size_t played = size_t(handedOver - 30000) * 2;
    ASSERT_GE(out.size(), start + played);
    EXPECT_EQ(std::memcmp(&out[start], &track.samples[30000 * 2], played * sizeof(float)), 0);
    for (size_t i = start + played; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << "after the stop, value " << i;
}

// Paused, the device takes nothing from the track and writes silence; the heard
// position stops at the last frame handed over; resumed, the track goes on from there:
// the track's buffers, silent ones aside, reach the device in order, none skipped or doubled.
TEST_F(DiskDevice, PausedItTakesNothingAndResumedGoesOnWhereItStopped) {
    const MusicTrack track = decodedBeat(3.0);
    openDisk("device-paused.raw", "5");  // 5 ms a buffer
    playSound(&track, 0);
    while (lastHandOver().frame < 4 * BUFFER) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pauseSound(true);
    ASSERT_TRUE(soundPaused());
    const int64_t paused = lastHandOver().frame, held = heardFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));  // 16 buffers' time
    EXPECT_EQ(lastHandOver().frame, paused) << "no track frame is handed over while paused";
    EXPECT_EQ(heardFrame(), held) << "the heard position stands while paused";
    pauseSound(false);
    EXPECT_FALSE(soundPaused());
    const int64_t resumed = heardFrame();
    EXPECT_GE(resumed, held);
    EXPECT_LE(resumed, paused) << "nothing is skipped over at the resume";
    while (lastHandOver().frame < paused + 4 * BUFFER)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(heardFrame(), resumed);
    stopSound();
    const int64_t handedOver = lastHandOver().frame;
    closeSoundDevice();
    ASSERT_LT(handedOver, track.frameCount) << "stopped too late to tell";

    // Device buffers and the track cut at the same frames, all-silent ones left out.
    const std::vector<float> out = received();
    const size_t chunk = 2 * BUFFER;
    auto silent = [&](const float* values) {
        for (size_t i = 0; i < chunk; ++i)
            if (values[i] != 0.0f) return false;
        return true;
    };
    std::vector<const float*> heard, expected;
    int silentBetween = 0, silentRun = 0;  // silent buffers between sounding ones: the pause
    for (size_t at = 0; at + chunk <= out.size(); at += chunk) {
        if (silent(&out[at])) {
            ++silentRun;
            continue;
        }
        if (!heard.empty()) silentBetween += silentRun;
        silentRun = 0;
        heard.push_back(&out[at]);
    }
    for (int64_t frame = 0; frame < handedOver; frame += BUFFER)
        if (!silent(&track.samples[static_cast<size_t>(frame) * 2]))
            expected.push_back(&track.samples[static_cast<size_t>(frame) * 2]);
    ASSERT_EQ(heard.size(), expected.size());
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(std::memcmp(heard[i], expected[i], chunk * sizeof(float)), 0) << "buffer " << i;
    EXPECT_GE(silentBetween, 4) << "silence while paused";
}

TEST_F(DiskDevice, HeardPositionNeverDecreasesAndStaysWithinTwoBuffersOfTheHandOver) {
    const MusicTrack track = decodedBeat(0.6);
    openDisk("device-paced.raw", "23");  // about real time: one 23.2 ms buffer per 23 ms
    playSound(&track, 0);
    int64_t previous = heardFrame();
    EXPECT_GE(previous, -BUFFER);
    EXPECT_LE(previous, 0);
    int checks = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    while (std::chrono::steady_clock::now() < end) {
        const int64_t before = lastHandOver().frame;
        const int64_t heard = heardFrame();
        const int64_t after = lastHandOver().frame;
        ASSERT_GE(heard, previous);
        ASSERT_LE(heard, after);
        ASSERT_GE(heard, before - 2 * BUFFER);
        previous = heard;
        ++checks;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    EXPECT_GT(checks, 500);
    // Paced near real time, 0.9 s of playing is heard as most of the 0.6 s track and beyond.
    EXPECT_GT(previous, track.frameCount / 2);
}

}  // namespace

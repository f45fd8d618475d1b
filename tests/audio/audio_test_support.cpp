// Test helpers shared by the music tests.
#include "tests/audio/audio_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/music_plot/mp3_encode.h"

MusicTrack makeTrack(std::vector<float> samples, int channels) {
    MusicTrack track;
    track.frameCount = static_cast<int64_t>(samples.size() / channels);
    track.channels = channels;
    track.samples = std::move(samples);
    return track;
}

std::vector<float> sine(double hz, double amplitude, int64_t frames, int channels, int rate) {
    std::vector<float> samples(size_t(frames) * channels);
    for (int64_t f = 0; f < frames; ++f) {
        const float v = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * double(f) / rate));
        for (int c = 0; c < channels; ++c) samples[size_t(f) * channels + c] = v;
    }
    return samples;
}

std::vector<unsigned char> encodeOrFail(const std::vector<float>& samples, int channels, int rate,
                                        int kbps) {
    std::vector<unsigned char> mp3;
    std::string error;
    EXPECT_TRUE(encodeMp3(samples, channels, rate, kbps, mp3, &error)) << error;
    return mp3;
}

std::string scratchPath(const std::string& name) {
    const char* root = std::getenv("AUDIO_TEST_OUT");
    const std::filesystem::path folder = root ? root : "audio-test";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

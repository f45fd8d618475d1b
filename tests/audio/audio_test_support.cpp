// Test helpers shared by the music tests.
#include "tests/audio/audio_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include <unistd.h>

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

std::vector<unsigned char> wavOfStereo(const std::vector<float>& samples) {
    std::vector<unsigned char> wav = wavOfNoise(int(samples.size() / 2), 0);
    for (size_t i = 0; i < samples.size(); ++i) {
        const int16_t v = int16_t(std::lround(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f));
        std::memcpy(&wav[44 + 2 * i], &v, 2);
    }
    return wav;
}

std::vector<unsigned char> wavOfNoise(int frames, uint32_t seed) {
    std::vector<unsigned char> wav(44 + size_t(frames) * 4);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&wav[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&wav[at], &v, 2); };
    std::memcpy(&wav[0], "RIFF", 4);
    put32(4, uint32_t(wav.size() - 8));
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, 44100);
    put32(28, 44100 * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(&wav[36], "data", 4);
    put32(40, uint32_t(frames) * 4);
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 6000.0f);
    for (int i = 0; i < frames * 2; ++i) put16(44 + 2 * size_t(i), uint16_t(int16_t(std::clamp(noise(random), -32000.0f, 32000.0f))));
    return wav;
}

std::vector<unsigned char> encodeOrFail(const std::vector<float>& samples, int channels, int rate,
                                        int kbps) {
    std::vector<unsigned char> mp3;
    std::string error;
    EXPECT_TRUE(encodeMp3(samples, channels, rate, kbps, mp3, &error)) << error;
    return mp3;
}

std::string scratchPath(const std::string& name) {
    const std::filesystem::path folder = "audio-test";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    // Written aside and renamed into place: test processes running side by side may
    // write and read the same scratch file.
    const std::string aside = path + "." + std::to_string(getpid());
    std::FILE* file = std::fopen(aside.c_str(), "wb");
    ASSERT_NE(file, nullptr) << aside;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
    std::filesystem::rename(aside, path);
}

// Helpers for the music tests: tracks made in memory, MP3 images synthesised at test
// time, and scratch files under the build tree.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/music_track.h"

// A track over `samples` (interleaved), as decodeMusic would leave it.
MusicTrack makeTrack(std::vector<float> samples, int channels);

// `frames` frames of a sine at `hz` and `amplitude` on `channels` identical channels.
std::vector<float> sine(double hz, double amplitude, int64_t frames, int channels, int rate = MUSIC_RATE);

// A RIFF WAVE file of `frames` frames of 16-bit stereo noise at 44.1 kHz.
std::vector<unsigned char> wavOfNoise(int frames, uint32_t seed);
// The same header over interleaved stereo `samples` (-1..1) as 16-bit PCM.
std::vector<unsigned char> wavOfStereo(const std::vector<float>& samples);

// Encodes with libmp3lame (Info tag written); fails the calling test on error.
std::vector<unsigned char> encodeOrFail(const std::vector<float>& samples, int channels, int rate,
                                        int kbps = 192);

// A path for a scratch file named `name` in audio-test/ under the working directory.
std::string scratchPath(const std::string& name);

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);

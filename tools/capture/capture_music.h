// The music as the capture hears it: the track decoded into memory with no sound device,
// the listening position that makes the spectrum follow the frame being rendered, and the
// samples of any span for the video's sound.
#pragma once
#include <cstdint>
#include <string>

// Sample frames per second of the capture's sound.
constexpr int CAPTURE_AUDIO_RATE = 44100;

// Loads "music.mp3" from the current folder into the music player, offline. False with a
// reason when there is no track; the capture then renders what the silent demo shows and
// the video's sound is silence.
bool loadCaptureMusic(std::string* reason);

// Interleaved channels of the samples soundtrackSamples writes: 1 or 2.
int soundtrackChannels();

// Makes the music player's spectrum what the demo reads while audio sample frame
// `position` (at CAPTURE_AUDIO_RATE) is heard. Called before each frame renders.
void listenAt(int64_t position);

// Writes `count` interleaved sample frames from sample frame `first`; zeros outside the
// track (the demo goes silent when the track ends before the pictures). Sample frame 0
// is heard at the timeline's start.
void soundtrackSamples(int64_t first, int64_t count, float* out);

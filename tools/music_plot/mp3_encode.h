// Test music for the tools and tests: a synthesised track with a clear beat, and an MP3
// encoder (libmp3lame) that writes the Info tag, so that decoders can trim the encoder's
// delay and padding. Not used by the demo.
#pragma once
#include <string>
#include <vector>

// Interleaved float PCM (-1..1) to an MP3 file image at `kbps` (constant bit rate), the
// sample rate kept. `channels` is 1 or 2. `infoTag` false leaves out the Info tag (no
// delay, padding or length for the decoder). False with a short reason on failure.
bool encodeMp3(const std::vector<float>& samples, int channels, int rate, int kbps,
               std::vector<unsigned char>& mp3, std::string* error, bool infoTag = true);

// `seconds` of stereo music at `rate` Hz with a kick drum on every beat at `bpm` (a decaying
// 55 Hz thump, loud enough to move the low spectrum), a quieter snare-like noise burst on
// the off-beats and a soft 440/660 Hz pad under it all.
std::vector<float> synthBeat(double seconds, int rate, double bpm);

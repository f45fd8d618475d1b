// File encoders of the asset generator: MP3 through libmp3lame and baseline JPEG
// through libjpeg. Each writes its file whole or not at all (a temporary name renamed
// into place), and returns false and sets `error` to a short reason on failure.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace assets {

// Writes interleaved stereo 16-bit PCM at 44.1 kHz as a constant-bit-rate MP3
// (kbps: 32..320) whose first frame carries the LAME tag, so that decoders that
// read it trim the encoder's delay and padding and give back exactly `pcm`'s length.
bool writeMp3(const std::string& path, const std::vector<int16_t>& pcm, int kbps,
              std::string& error);

// How a JPEG is laid out; every file is baseline, one interleaved scan.
struct JpegLayout {
    int quality = 90;            // 1..100
    bool fullChroma = false;     // true: 4:4:4; false: 4:2:0
    bool restartPerRow = false;  // true: one restart interval per MCU row
};

// Writes `pixels` (rows top first, `components` bytes a pixel: 1 grey, 3 RGB).
bool writeJpeg(const std::string& path, const uint8_t* pixels, int width, int height,
               int components, const JpegLayout& layout, std::string& error);

} // namespace assets

// libFuzzer target: any byte string as the image of music.mp3, through our memory reader
// into libmpg123 and on through the resampler, exactly as the music player decodes a file.
// Beyond the sanitizers it checks what callers rely on: a refused file leaves an empty
// track and one line of reason; an accepted one is stereo, consistent and finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "audio/music_track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MusicTrack track;
    std::string reason;
    const bool ok = decodeMusic(data, size, track, &reason);
    if (reason.find('\n') != std::string::npos) std::abort();
    if (!ok) {
        if (reason.empty() || track.frameCount != 0 || !track.samples.empty()) std::abort();
        return 0;
    }
    if (track.channels != 2 || track.frameCount < 0 ||
        track.samples.size() != static_cast<size_t>(track.frameCount) * 2 ||
        track.frameCount > int64_t(MUSIC_RATE) * MUSIC_MAX_SECONDS)
        std::abort();
    for (float v : track.samples)
        if (!std::isfinite(v)) std::abort();
    return 0;
}

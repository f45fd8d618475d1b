// The capture's music. The music player has no offline mode yet, so for now the capture
// hears silence: the spectrum stays as the silent demo sees it (music level 0) and the
// video's sound track is silence of exactly the picture's length.
//
// MUSIC INTEGRATION POINT: once audio/music_track.h and MusicPlayer's offline calls exist,
// loadCaptureMusic calls musicPlayer.loadStream(0, "music.mp3") and keeps
// musicPlayer.track(0); listenAt calls musicPlayer.setListeningPosition(position);
// soundtrackSamples copies from the track's interleaved samples; soundtrackChannels
// returns the track's channel count; CAPTURE_AUDIO_RATE becomes MUSIC_RATE.
#include "tools/capture/capture_music.h"

#include <algorithm>

bool loadCaptureMusic(std::string* reason) {
    if (reason) *reason = "the music player cannot decode offline yet";
    return false;
}

int soundtrackChannels() { return 2; }

void listenAt(int64_t) {}

void soundtrackSamples(int64_t, int64_t count, float* out) {
    std::fill(out, out + count * soundtrackChannels(), 0.0f);
}

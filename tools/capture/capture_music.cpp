// The capture's music: the demo's own music player, loaded without a sound device and
// told per frame which moment is heard, so that spectrum() and with it musicLevel are
// what the demo would read while that frame is shown.
#include "tools/capture/capture_music.h"

#include <algorithm>

#include "audio/music_player.h"

static_assert(CAPTURE_AUDIO_RATE == MUSIC_RATE, "the capture counts sound at the track's rate");

namespace {
const MusicTrack* heardTrack = nullptr;  // slot 0's decoded track; null: silence
}

bool loadCaptureMusic(std::string* reason) {
    // loadStream reads and decodes the file and needs no device; on failure it has said why.
    heardTrack = musicPlayer.loadStream(0, "music.mp3") ? musicPlayer.track(0) : nullptr;
    if (!heardTrack && reason) *reason = "no decodable music.mp3";
    return heardTrack != nullptr;
}

int soundtrackChannels() { return heardTrack ? heardTrack->channels : 2; }

void listenAt(int64_t position) { musicPlayer.setListeningPosition(position); }

void soundtrackSamples(int64_t first, int64_t count, float* out) {
    const int channels = soundtrackChannels();
    if (heardTrack)
        copyTrackFrames(*heardTrack, first, count, channels, out);
    else
        std::fill(out, out + count * channels, 0.0f);
}

// The music player over the sound device: slots of decoded tracks, one playing, and the
// spectrum array handed to the frame loop. Owns `musicPlayer` and the spectrum unit.
#include "audio/music_player.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "app/asset_file.h"
#include "audio/sound_device.h"

MusicPlayer musicPlayer;

namespace {

constexpr int DEVICE_BUFFER_FRAMES = 1024;  // 23.2 ms at 44.1 kHz

SpectrumUnit spectrumUnit;

bool validSlot(int slot) { return slot >= 0 && slot < MUSIC_SLOTS; }

void reportMusic(const char* path, const std::string& what) {
    std::fprintf(stderr, "velmora: %s: %s\n", path, what.c_str());
}

}  // namespace

bool MusicPlayer::initMusic() {
    std::string reason;
    if (!openSoundDevice(DEVICE_BUFFER_FRAMES, &reason)) {
        std::fprintf(stderr, "velmora: %s; the music stays silent\n", reason.c_str());
        return false;
    }
    fftUnit = &spectrumUnit;
    fftUnit->active = true;
    return true;
}

bool MusicPlayer::loadStream(int slot, const char* path) {
    if (!validSlot(slot)) {
        reportMusic(path, "no music slot " + std::to_string(slot));
        return false;
    }
    // Read first: a file that cannot be read leaves the slot as it was.
    size_t size = 0;
    std::string readFailure;
    unsigned char* image = readAssetFile(path, ASSET_MAX_BYTES, size, readFailure);
    if (!image) {
        reportMusic(path, readFailure);
        return false;
    }

    // The slot's old track may be on the device: take it off before freeing it.
    if (slot == playingSlot) stopStream(slot);
    delete streams[slot];
    streams[slot] = nullptr;
    delete[] buffers[slot];
    buffers[slot] = image;

    MusicStream* stream = new (std::nothrow) MusicStream();
    std::string reason;
    if (!stream || !decodeMusic(buffers[slot], size, stream->track, &reason)) {
        reportMusic(path, stream ? reason : "out of memory");
        delete stream;
        delete[] buffers[slot];
        buffers[slot] = nullptr;
        return false;
    }
    if (!reason.empty()) reportMusic(path, reason + "; playing what decoded");
    streams[slot] = stream;

    // The first spectrum on this thread sets up its FFT tables; do it now, not in a frame.
    computeSpectrum(stream->track, 0, spectrumUnit.values);
    std::fill(std::begin(spectrumUnit.values), std::end(spectrumUnit.values), 0.0f);
    return true;
}

void MusicPlayer::playStream(int slot, int position) {
    if (!validSlot(slot) || !streams[slot] || !soundDeviceOpen()) return;
    playSound(&streams[slot]->track, std::max(position, 0));
    playingSlot = slot;
    channels[slot] = 0;  // the device has one output channel
}

void MusicPlayer::stopStream(int slot) {
    if (!validSlot(slot) || slot != playingSlot) return;
    stopSound();
    playingSlot = -1;
}

const float* MusicPlayer::spectrum() {
    float* values = spectrumUnit.values;
    const MusicTrack* heard = nullptr;
    int64_t frame = 0;
    if (listening) {
        heard = track(0);
        frame = listeningFrame;
    } else if (fftUnit && fftUnit->active && playingSlot >= 0 && playingTrack()) {
        heard = playingTrack();
        frame = heardFrame();
    }
    if (heard)
        computeSpectrum(*heard, frame, values);
    else
        std::fill(values, values + SPECTRUM_SIZE, 0.0f);
    return values;
}

void MusicPlayer::closeMusic() {
    if (playingSlot >= 0) stopStream(playingSlot);
    if (fftUnit) fftUnit->active = false;
    closeSoundDevice();
}

void MusicPlayer::releaseMusic() {
    // The callback reads the playing track: take it off the device before freeing it.
    if (playingSlot >= 0) stopStream(playingSlot);
    for (int slot = 0; slot < MUSIC_SLOTS; ++slot) {
        delete streams[slot];
        streams[slot] = nullptr;
        delete[] buffers[slot];
        buffers[slot] = nullptr;
    }
}

void MusicPlayer::setListeningPosition(int64_t frame) {
    listening = true;
    listeningFrame = frame;
}

const MusicTrack* MusicPlayer::track(int slot) const {
    return validSlot(slot) && streams[slot] ? &streams[slot]->track : nullptr;
}

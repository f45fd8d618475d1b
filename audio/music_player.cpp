// The music player over the sound device: slots of decoded tracks, one playing, and the
// spectrum array handed to the frame loop. Owns `musicPlayer` and the spectrum unit.
#include "audio/music_player.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>

#include "app/asset_file.h"
#include "audio/sound_device.h"

MusicPlayer musicPlayer;

namespace {

constexpr int DEVICE_BUFFER_FRAMES = 1024;  // 23.2 ms at 44.1 kHz

// A prefetch decodes the first 2.2 s of the track (a few milliseconds of work), and the
// rest from one second after its loadStream: decoding it all at once (a quarter of a
// second of processor time) would slow down the window, the GL context and the first
// frames it would run beside, for nothing.
constexpr int64_t PREFETCH_LEAD_FRAMES = 12 * 8192;
constexpr int64_t PREFETCH_RESUME_NS = 1000000000;

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

namespace {

// A prefetch's decode is stopped before the image it reads from goes.
void deletePrefetch(MusicPrefetch* ahead) {
    if (!ahead) return;
    delete ahead->stream;
    delete[] ahead->buffer;
    delete ahead;
}

// Empties `slot` of `player`.
void clearSlot(MusicPlayer& player, int slot) {
    // The slot's old track may be on the device: take it off before freeing it, and stop
    // its decode before freeing the image it reads.
    if (slot == player.playingSlot) player.stopStream(slot);
    delete player.streams[slot];
    player.streams[slot] = nullptr;
    delete[] player.buffers[slot];
    player.buffers[slot] = nullptr;
}

// Puts a decoded or decoding stream into `slot`, which must be empty.
void installStream(MusicPlayer& player, int slot, MusicStream* stream) {
    player.streams[slot] = stream;
    // The first spectrum on this thread sets up its FFT tables; do it now, not in a frame.
    computeSpectrum(stream->decode.track, 0, spectrumUnit.values);
    std::fill(std::begin(spectrumUnit.values), std::end(spectrumUnit.values), 0.0f);
}

// loadStream of a prefetched file: as loadStream reports and results.
bool takeOverPrefetch(MusicPlayer& player, int slot) {
    MusicPrefetch* ahead = player.prefetches[slot];
    player.prefetches[slot] = nullptr;
    if (!ahead->stream) {  // the file could not be read: the slot stays as it was
        reportMusic(ahead->path.c_str(), ahead->failure);
        deletePrefetch(ahead);
        return false;
    }
    clearSlot(player, slot);
    player.buffers[slot] = ahead->buffer;
    MusicStream* stream = ahead->stream;
    const std::string path = ahead->path;
    ahead->buffer = nullptr;
    ahead->stream = nullptr;
    deletePrefetch(ahead);

    // Until the first piece is there or the decode has ended; damage found after this
    // the decode reports itself.
    MusicDecode& decode = stream->decode;
    if (decode.resumeAtNs.load() == 0) decode.resumeAtNs = musicDecodeClockNs() + PREFETCH_RESUME_NS;
    waitForMusicFrames(decode, 1);
    bool ok = true;
    std::string reason;
    {
        std::lock_guard<std::mutex> hold(decode.reportLock);
        if (decode.finished.load(std::memory_order_acquire)) {
            ok = decode.ok;
            reason = decode.reason;
        } else {
            decode.reportPath = path;
        }
    }
    if (!ok) {
        reportMusic(path.c_str(), reason);
        delete stream;
        delete[] player.buffers[slot];
        player.buffers[slot] = nullptr;
        return false;
    }
    if (!reason.empty()) reportMusic(path.c_str(), reason + "; playing what decoded");
    installStream(player, slot, stream);
    return true;
}

}  // namespace

bool MusicPlayer::loadStream(int slot, const char* path) {
    if (!validSlot(slot)) {
        reportMusic(path, "no music slot " + std::to_string(slot));
        return false;
    }
    if (prefetches[slot] && prefetches[slot]->path == path) return takeOverPrefetch(*this, slot);

    // Read first: a file that cannot be read leaves the slot as it was.
    size_t size = 0;
    std::string reason;
    unsigned char* buffer = readAssetFile(path, ASSET_MAX_BYTES, size, reason);
    if (!buffer) {
        reportMusic(path, reason);
        return false;
    }
    clearSlot(*this, slot);
    buffers[slot] = buffer;

    MusicStream* stream = new (std::nothrow) MusicStream();
    if (!stream || !decodeMusic(buffers[slot], size, stream->decode.track, &reason)) {
        reportMusic(path, stream ? reason : "out of memory");
        delete stream;
        delete[] buffers[slot];
        buffers[slot] = nullptr;
        return false;
    }
    stream->decode.ok = true;
    stream->decode.finished = true;
    if (!reason.empty()) reportMusic(path, reason + "; playing what decoded");
    installStream(*this, slot, stream);
    return true;
}


void MusicPlayer::prefetchStream(int slot, const char* path, int pieceDelayUs) {
    if (!validSlot(slot)) return;
    deletePrefetch(prefetches[slot]);
    prefetches[slot] = nullptr;
    MusicPrefetch* ahead = new (std::nothrow) MusicPrefetch();
    if (!ahead) return;
    ahead->path = path;
    size_t size = 0;
    ahead->buffer = readAssetFile(path, ASSET_MAX_BYTES, size, ahead->failure);
    if (ahead->buffer) {
        ahead->stream = new (std::nothrow) MusicStream();
        if (ahead->stream) {
            ahead->stream->decode.pieceDelayUs = pieceDelayUs;
            ahead->stream->decode.holdAt = PREFETCH_LEAD_FRAMES;
            if (!startMusicDecode(ahead->buffer, size, ahead->stream->decode)) {
                delete ahead->stream;
                ahead->stream = nullptr;
            }
        }
        // Without a decode thread, loadStream reads and decodes as usual.
        if (!ahead->stream) {
            deletePrefetch(ahead);
            return;
        }
    }
    prefetches[slot] = ahead;
}

void MusicPlayer::playStream(int slot, int position) {
    if (!validSlot(slot) || !streams[slot] || !soundDeviceOpen()) return;
    playSound(&streams[slot]->decode.track, std::max(position, 0));
    playingSlot = slot;
    channels[slot] = 0;  // the device has one output channel
}

void MusicPlayer::pauseStream(int slot, bool paused) {
    if (validSlot(slot) && slot == playingSlot) pauseSound(paused);
}

void MusicPlayer::stopStream(int slot) {
    if (!validSlot(slot) || slot != playingSlot) return;
    stopSound();
    playingSlot = -1;
}

const float* MusicPlayer::spectrum() { return spectrumAhead(0); }

const float* MusicPlayer::spectrumAhead(int64_t aheadNs) {
    float* values = spectrumUnit.values;
    MusicStream* heard = nullptr;
    int64_t frame = 0;
    if (listening) {
        heard = streams[0];
        frame = listeningFrame;
    } else if (fftUnit && fftUnit->active && playingSlot >= 0 && playingTrack()) {
        heard = streams[playingSlot];
        frame = heardFrame();
        if (!soundPaused()) frame += std::clamp<int64_t>(aheadNs, 0, 1000000000) * MUSIC_RATE / 1000000000;
    }
    if (heard) {
        // The analysis window reaches half a window past the frame.
        waitForMusicFrames(heard->decode, frame + SPECTRUM_WINDOW / 2);
        computeSpectrum(heard->decode.track, frame, values);
    } else
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
        clearSlot(*this, slot);
        deletePrefetch(prefetches[slot]);
        prefetches[slot] = nullptr;
    }
}

void MusicPlayer::setListeningPosition(int64_t frame) {
    listening = true;
    listeningFrame = frame;
}

const MusicTrack* MusicPlayer::track(int slot) const {
    return validSlot(slot) && streams[slot] ? &streams[slot]->decode.track : nullptr;
}

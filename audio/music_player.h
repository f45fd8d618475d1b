// The music player: reads "music.mp3" into memory, decodes it, plays it on the sound
// device and hands out the spectrum of what is being heard. Owns the global
// `musicPlayer` and the spectrum array it hands out. Main thread only; a track loaded
// ahead with prefetchStream decodes on a thread of its own (see audio/music_track.h).
#pragma once
#include <cstdint>
#include <string>

#include "audio/music_track.h"

constexpr int MUSIC_SLOTS = 10;

// The spectrum unit: while active, the spectrum follows what plays on the device.
struct SpectrumUnit {
    bool active = false;
    float values[SPECTRUM_SIZE] = {};  // 0..1, lowest frequencies first; zeros when nothing plays
};

// One loaded slot: the decoded track the device plays from (decode.track), and the
// decode's thread while it runs.
struct MusicStream {
    MusicDecode decode;
};

// A file read, and decoding, ahead of the loadStream that takes it over.
struct MusicPrefetch {
    std::string path;                 // as given to prefetchStream
    std::string failure;              // why the file could not be read; empty when it was
    unsigned char* buffer = nullptr;  // the file's image; null when it could not be read
    MusicStream* stream = nullptr;    // decoding from buffer; null when not started
};

struct MusicPlayer {
    SpectrumUnit* fftUnit = nullptr;               // set by a successful initMusic
    MusicStream* streams[MUSIC_SLOTS] = {};        // null: the slot is empty
    int channels[MUSIC_SLOTS] = {};                // output channel of the slot's last play
    unsigned char* buffers[MUSIC_SLOTS] = {};      // each loaded file's image; null when none
    MusicPrefetch* prefetches[MUSIC_SLOTS] = {};   // files read ahead, not yet taken over
    int playingSlot = -1;                          // slot on the device, -1: none
    bool listening = false;                        // offline: spectrum at listeningFrame
    int64_t listeningFrame = 0;                    // frames at 44.1 kHz from slot 0's start

    MusicPlayer() = default;
    MusicPlayer(const MusicPlayer&) = delete;
    MusicPlayer& operator=(const MusicPlayer&) = delete;
    ~MusicPlayer() { releaseMusic(); }

    // Opens the sound output and activates the spectrum unit. False (after one line on
    // stderr) when there is no output; the demo then runs silent.
    bool initMusic();
    // Reads the whole file into memory and decodes it into `slot` (0..9), replacing what
    // the slot held. Needs no sound output. False (after one line on stderr) when the file
    // cannot be read (not a regular file, over ASSET_MAX_BYTES, unreadable), leaving the
    // slot as it was, or holds no playable audio, leaving the
    // slot empty. Damage that was skipped over is reported in one line too.
    // After prefetchStream of the same slot and path it takes that over instead and
    // returns once the track's first piece is decoded (or the decode has ended): the rest
    // decodes on while the track plays, and damage found later is reported when found.
    bool loadStream(int slot, const char* path);
    // Reads the file now and starts decoding it on a thread of its own, for a later
    // loadStream of the same slot and path; prints nothing (loadStream reports as it
    // would). The decode stops 2.2 s in until a second after that loadStream, unless
    // the spectrum needs more. Replaces an earlier
    // prefetch of the slot. `pieceDelayUs` slows the decode down (microseconds after
    // each piece), for tests.
    void prefetchStream(int slot, const char* path, int pieceDelayUs = 0);
    // Starts `slot` from `position` (frames at 44.1 kHz, 0: the start) at once, in place of
    // whatever played. Does nothing without a sound output or with an empty slot.
    void playStream(int slot, int position);
    // Pauses or resumes `slot` if it is playing; resumed, it goes on where it stopped.
    void pauseStream(int slot, bool paused);
    // Stops `slot` if it is playing.
    void stopStream(int slot);
    // The spectrum being heard now: SPECTRUM_SIZE values, 0..1, lowest frequencies first,
    // value i is 43.07 * (i + 1) Hz. Never null; all zeros when nothing plays. The array
    // stays owned by the player and changes on the next call. While the track still
    // decodes, it waits until the frames the analysis needs are there.
    const float* spectrum();
    // As spectrum(), for the moment `aheadNs` from now (0..1 s): the spectrum of a frame
    // that will be on screen that much later. No look-ahead while the sound is paused
    // or offline (setListeningPosition), so that rendered frames stay as they were.
    const float* spectrumAhead(int64_t aheadNs);
    // Stops playback, deactivates the spectrum unit and closes the sound output.
    void closeMusic();
    // Frees every slot and prefetch, taking the playing one off the sound output first and
    // stopping decodes; run at exit.
    void releaseMusic();

    // Rendering without a device: from now on spectrum() is what the demo uses while
    // frame `frame` of slot 0's track is heard (computeSpectrum of it).
    void setListeningPosition(int64_t frame);
    // The decoded track of `slot`; null when the slot is empty or out of range.
    const MusicTrack* track(int slot) const;
};

extern MusicPlayer musicPlayer;

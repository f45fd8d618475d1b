// The one sound output: an SDL audio device at 44.1 kHz, stereo float, fed by a callback
// that copies the playing track from memory and publishes how many frames it has handed
// over and when. Owns the device and the playback state.
//
// Threads: every function here is for the main thread. The callback runs on SDL's audio
// thread; it reads the source (track, position) only under the device lock, which the
// main thread takes just long enough to swap the source, and writes nothing but the
// published hand-over (lock-free, see lastHandOver) and its own timing counters. It never
// allocates, logs or waits.
#pragma once
#include <cstdint>
#include <string>

#include "audio/music_track.h"

// Opens and starts the default output, `bufferFrames` frames per callback (1024: 23.2 ms).
// The device plays silence until playSound. False, with a short reason, when no output
// can be had; then nothing else here does anything.
bool openSoundDevice(int bufferFrames, std::string* reason);

// Stops the callback for good and releases the device. Safe when none is open.
void closeSoundDevice();

bool soundDeviceOpen();

// The name of SDL's output driver ("pulseaudio", "alsa", "disk", ...); "none" when closed.
const char* soundDriverName();

// Frames per device buffer; 0 when closed.
int soundBufferFrames();

// Frames from a hand-over until its last frame is heard, as the heard position assumes:
// whole device buffers, as many as SDL's output driver keeps queued (two for its Pulse
// and PipeWire clients, one elsewhere); 0 when closed.
int soundLatencyFrames();

// Plays `track` from frame `startFrame` (0: the start) in place of whatever played.
// The track's samples must stay untouched until stopSound, the next playSound or
// closeSoundDevice. Nothing happens without a device.
void playSound(const MusicTrack* track, int64_t startFrame);

// Silence from the next callback on.
void stopSound();

// Paused: the callback stops taking frames from the track, and the device plays silence
// once what it already holds is heard; resumed: the track goes on from the next frame not
// yet handed over. Nothing happens without a device.
void pauseSound(bool paused);

// The track being played; null when nothing plays (stopped, never started, closed).
const MusicTrack* playingTrack();

// The newest hand-over: after it the device holds the track up to (not including)
// `frame`, counted from the track's start and running on past its end while the track
// plays on as silence. `timeNs` is when it happened, on soundClockNs.
struct SoundHandOver {
    int64_t frame;
    int64_t timeNs;
};
SoundHandOver lastHandOver();

// Nanoseconds on a monotonic clock, the one the hand-overs are stamped with.
int64_t soundClockNs();

// The frame being heard now: the frames handed over, less soundLatencyFrames, plus the
// time since that hand-over, never beyond what was handed over and never smaller than the
// previous answer since playSound. Only meaningful while something plays.
int64_t heardFrame();

// What the callback has cost so far on the audio thread, for measurements.
struct SoundCallbackCost {
    int64_t calls;    // callbacks that copied track frames
    int64_t totalNs;  // time spent in them
    int64_t maxNs;    // the longest one
};
SoundCallbackCost soundCallbackCost();

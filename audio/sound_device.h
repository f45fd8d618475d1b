// The one sound output, 44.1 kHz stereo float, fed from the playing track in memory:
// a libpulse stream where a Pulse server (PulseAudio, or PipeWire's Pulse layer) takes
// one, whose heard position comes from the server's own playback timing; otherwise an
// SDL audio device (ALSA, disk, dummy, ...), whose heard position is the newest
// hand-over less a fixed latency. SDL_AUDIODRIVER set to anything picks SDL's output.
// Owns the output and the playback state.
//
// Threads: every function here is for the main thread. SDL's callback runs on SDL's
// audio thread; it reads the source (track, position) only under the device lock, which
// the main thread takes just long enough to swap the source, and writes nothing but the
// published hand-over (lock-free, see lastHandOver) and its own timing counters. The
// libpulse stream's callbacks run on libpulse's main loop thread under the loop's lock,
// which the main thread takes to swap the source and to read the timing (see
// audio/pulse_output.h). No callback allocates, logs or waits.
#pragma once
#include <cstdint>
#include <string>

#include "audio/music_track.h"

// Opens and starts the default output, `bufferFrames` frames per SDL callback (1024:
// 23.2 ms; a Pulse stream asks for two of them of latency in all). The output plays
// silence until playSound. False, with a short reason, when no output
// can be had; then nothing else here does anything.
bool openSoundDevice(int bufferFrames, std::string* reason);

// Stops the callback for good and releases the device. Safe when none is open.
void closeSoundDevice();

bool soundDeviceOpen();

// "libpulse", or the name of SDL's output driver ("alsa", "pulseaudio", "disk", ...);
// "none" when closed.
const char* soundDriverName();

// Frames per device buffer; 0 when closed.
int soundBufferFrames();

// Frames from a hand-over until its last frame is heard: on libpulse what the server
// reported last (queued in the stream plus its sink's latency; two buffers until it
// has); on SDL what the heard position assumes, whole device buffers, as many as SDL's
// driver keeps queued (two for its Pulse and PipeWire clients, one elsewhere); 0 when
// closed.
int soundLatencyFrames();

// Plays `track` from frame `startFrame` (0: the start) in place of whatever played.
// The track's samples must stay untouched until stopSound, the next playSound or
// closeSoundDevice. Nothing happens without a device.
void playSound(const MusicTrack* track, int64_t startFrame);

// Silence from the next callback on.
void stopSound();

// Pauses (true) or resumes the output; the heard position stands still while paused and
// runs on from there. libpulse corks the stream, so the server keeps what it holds and
// plays it on resume; SDL stops its callback and plays out what it held, and resumes
// from the next frame not handed over. playSound and stopSound leave the pause as it is;
// closing ends it.
void pauseSound(bool paused);

// Whether pauseSound(true) holds.
bool soundPaused();

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

// The frame being heard now. libpulse: the server's read index, less its sink's latency,
// as of its newest timing reply (asked for at every write), plus the time since the
// reply while the stream plays. SDL: the frames handed over, less soundLatencyFrames,
// plus the time since that hand-over. Never beyond what was handed over, never smaller
// than the previous answer since playSound, frozen while paused. Only meaningful while
// something plays.
int64_t heardFrame();

// What the callback has cost so far on the audio thread, for measurements.
struct SoundCallbackCost {
    int64_t calls;    // callbacks that copied track frames
    int64_t totalNs;  // time spent in them
    int64_t maxNs;    // the longest one
};
SoundCallbackCost soundCallbackCost();

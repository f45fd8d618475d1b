// The sound output through a Pulse server (PulseAudio, or PipeWire's Pulse layer) with
// libpulse's threaded main loop: a playback stream filled from the playing track as the
// server asks, and the server's own timing replies. The sound layer (sound_device.cpp)
// is its one user and keeps the public interface; no libpulse type leaves this pair.
//
// Threads: every function here is for the main thread. The stream's callbacks run on
// libpulse's main loop thread, which holds the loop's lock around them; every function
// here takes that lock for what it reads or writes of the shared state, so nothing is
// shared without it. The callbacks never allocate, log or wait.
#pragma once
#include <cstdint>
#include <string>

#include "audio/heard_position.h"
#include "audio/music_track.h"

// Connects to the Pulse server libpulse finds (PULSE_SERVER, the user's runtime folder;
// never starting one) and opens a float stereo stream at MUSIC_RATE asking for about
// `bufferFrames` frames of latency in all, playing silence. False, with a short reason,
// when no server answers within 3 s or it refuses the stream; nothing is left open then.
bool openPulseOutput(int bufferFrames, std::string* reason);

void closePulseOutput();

// Plays `track` from `startFrame` after what the server already holds; null: silence
// from the next write on, the frames counted as before.
void setPulseSource(const MusicTrack* track, int64_t startFrame);

// Corks (true) or uncorks the stream: the server holds what it has and plays it on later.
void corkPulseOutput(bool corked);

// What the heard position needs, in frames of the track set last.
struct PulsePlayback {
    PlaybackTiming timing;     // from the newest timing reply
    int64_t writtenFrame = 0;  // the stream holds the track up to here
    int64_t writtenNs = 0;     // when the newest write happened, on soundClockNs
    int64_t latencyFrames = 0; // the server's latency at that reply: queued plus the sink's
};
PulsePlayback pulsePlayback();

// The stream's write callbacks so far: calls that wrote the track, their time in all
// and the longest (ns).
void pulseCallbackCost(int64_t* calls, int64_t* totalNs, int64_t* maxNs);

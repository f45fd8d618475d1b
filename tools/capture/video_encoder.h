// Video output through the `ffmpeg` program: raw RGBA frames go down a pipe into an
// encoder that writes the picture to FILE.part.EXT; when the picture is done (or the
// capture was stopped) a second ffmpeg run muxes it with exactly the sound of the frames
// written, so that picture and sound end together. The mux writes a temporary name in the
// same folder, renamed onto FILE only when complete. Owns no globals.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tools/capture/frame_clock.h"

struct VideoSettings {
    std::string path;     // the finished file; its extension picks the container
    int width = 640;      // pixels, even
    int height = 480;     // pixels, even
    FrameRate fps;
    std::string codec;    // ffmpeg encoder name; empty: libx264 for mp4-like files, else ffmpeg's choice
    int crf = 18;         // libx264/libx265 quality, 0..51
    std::string preset;   // libx264/libx265 preset
    int audioRate = 44100;   // Hz
    int audioChannels = 2;   // interleaved float samples
    // Set by a signal handler when the run is asked to stop: from then on a write to
    // ffmpeg waits at most VIDEO_STOP_GRACE_MS for it to take more bytes. May be null.
    const volatile sig_atomic_t* stop = nullptr;
};

constexpr int VIDEO_STOP_GRACE_MS = 10000;  // ms without progress before ffmpeg counts as stuck

struct VideoEncoder {
    VideoSettings settings;
    std::string partPath;      // the picture alone, removed after the mux
    pid_t pid = -1;            // the picture encoder while it runs
    int pipeFd = -1;           // its stdin
    int64_t framesWritten = 0;
    double encoderCpuSeconds = 0;  // CPU time both ffmpeg runs took, user + system
};

// True when `program` is an executable file on PATH.
bool findOnPath(const char* program);

// Starts the picture encoder. On failure returns false with a one-line reason.
bool startVideo(VideoEncoder& video, const VideoSettings& settings, std::string* error);

// Sends one frame: width x height RGBA, rows from the top. Blocks while ffmpeg catches up,
// but after a stop request no longer than VIDEO_STOP_GRACE_MS without progress (false then).
bool writeVideoFrame(VideoEncoder& video, const uint8_t* rgba, std::string* error);

// Fills `out` with `count` interleaved sample frames starting at sample frame `first`.
using AudioSource = void (*)(int64_t first, int64_t count, float* out);

// Ends the picture, then muxes it with the sound [audioFirst, audioFirst + audioCount)
// into settings.path and removes the part file. The muxed file counts only when ffprobe
// finds every frame in it. On failure nothing is left under settings.path or the
// temporary names.
bool finishVideo(VideoEncoder& video, int64_t audioFirst, int64_t audioCount, AudioSource audio,
                 std::string* error);

// Stops a video that failed half-way: kills the encoder (it may have stopped reading)
// and removes the part file.
void abandonVideo(VideoEncoder& video);

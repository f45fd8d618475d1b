// A music track decoded into memory at 44.1 kHz, whole or piece by piece on a thread of
// its own, and the spectrum of the moment being heard. Plain code over the codec and FFT
// libraries: no SDL, no GL, no globals that callers see. Safe to call from any thread;
// nothing here keeps state between calls except each thread's FFT tables.
//
// Threads: a background decode (startMusicDecode) writes a track that others read while
// it grows. It sizes `samples` once, before the first frame is published, and then only
// writes frames at and after frameCount, raising frameCount (release) after each piece.
// Readers load frameCount once (acquire) and read only frames below it.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

constexpr int MUSIC_RATE = 44100;     // frames per second of every decoded track
constexpr int MUSIC_MAX_SECONDS = 600; // decoded at most; the demo plays 144 s of it
constexpr int SPECTRUM_SIZE = 512;    // values handed out per spectrum
constexpr int SPECTRUM_WINDOW = 1024; // samples per analysis window (23.2 ms at 44.1 kHz)

struct MusicTrack {
    std::vector<float> samples;  // interleaved, -1..1, at least channels * frameCount values;
                                 // while decoding, frames not yet decoded hold NaN
    int channels = 0;            // 2 for every decoded track
    std::atomic<int64_t> frameCount{0};  // frames at MUSIC_RATE decoded so far; final once
                                         // the decode has ended

    MusicTrack() = default;
    MusicTrack(const MusicTrack& other)
        : samples(other.samples), channels(other.channels), frameCount(other.frameCount.load()) {}
    MusicTrack(MusicTrack&& other) noexcept
        : samples(std::move(other.samples)), channels(other.channels), frameCount(other.frameCount.load()) {}
    MusicTrack& operator=(const MusicTrack& other) {
        samples = other.samples;
        channels = other.channels;
        frameCount = other.frameCount.load();
        return *this;
    }
    MusicTrack& operator=(MusicTrack&& other) noexcept {
        samples = std::move(other.samples);
        channels = other.channels;
        frameCount = other.frameCount.load();
        return *this;
    }
};

// Decodes a whole MP3 file image into `track` (stereo float, MUSIC_RATE; a file at
// another rate is resampled). Encoder delay and padding are trimmed, so frame 0 is the
// first sample the encoder was given. Decoding stops after MUSIC_MAX_SECONDS. Returns
// false with a short reason when no track is found (less than a second of MPEG audio
// that is also less than half of what the file holds: "no MPEG audio found"). On
// success `reason` is cleared, or names damage that was skipped over or a length cut
// short at the limit (the track then holds everything that did decode).
bool decodeMusic(const unsigned char* data, size_t size, MusicTrack& track, std::string* reason);

struct MusicDecode;
// Cancels a running decode and waits for its thread to end. Safe when none runs.
void stopMusicDecode(MusicDecode& decode);

// A decode running on a thread of its own from a file image that must outlive it. The
// track can be read as it grows (see the top of this file) once frameCount is above 0.
// When a track's length is known from the file (an encoder's Info tag) and it needs no
// resampling, it comes in pieces of 8192 frames (186 ms); otherwise whole at the end.
struct MusicDecode {
    MusicTrack track;
    std::atomic<bool> finished{false};  // set (release) after the last piece and `ok`, `reason`
    std::atomic<bool> cancelled{false}; // set to stop at the next piece
    bool ok = false;                    // as decodeMusic's result; read once finished
    std::string reason;                 // as decodeMusic's reason; read once finished
    int pieceDelayUs = 0;               // a pause after each piece, microseconds (tests slow
                                        // the decode with it; 0 otherwise)
    std::atomic<int64_t> holdAt{INT64_MAX};  // frames: once this many are published, the
                                        // decode waits (set before startMusicDecode) ...
    std::atomic<int64_t> resumeAtNs{0}; // ... until this time on a steady clock (ns; 0:
                                        // not yet), a reader waits for more, or it is
                                        // cancelled
    std::mutex progressLock;            // taken between each publication and `progressed`,
    std::condition_variable progressed; // so that waitForMusicFrames sleeps until one
    std::mutex reportLock;              // guards reportPath
    std::string reportPath;             // non-empty: the decode prints "velmora: PATH:
                                        // REASON; playing what decoded" itself on damage
    std::thread thread;

    MusicDecode() = default;
    MusicDecode(const MusicDecode&) = delete;
    MusicDecode& operator=(const MusicDecode&) = delete;
    ~MusicDecode() { stopMusicDecode(*this); }
};

// Starts decoding `data` (`size` bytes, kept alive by the caller until the decode is
// stopped) into decode.track on a new thread. False when no thread can be started.
bool startMusicDecode(const unsigned char* data, size_t size, MusicDecode& decode);

// Waits until frames 0 .. frame - 1 of the decode's track are decoded or the decode has
// ended, whichever comes first; a decode held short of them goes on at once.
void waitForMusicFrames(MusicDecode& decode, int64_t frame);

// Nanoseconds on the steady clock that resumeAtNs is read on.
int64_t musicDecodeClockNs();

// The spectrum of what is heard while frame `frame` (from the track's start, at
// MUSIC_RATE) plays: value i is bin i + 1 of a 1024-point FFT (43.07 Hz apart) of the
// mono mix through a periodic Hann window centred on that frame, scaled so that a
// full-scale sine on a bin gives 1.0, clamped to 0..1. Samples outside the track count as
// silence, and a frame outside the track gives all zeros. Allocates nothing after the
// first call on a thread.
void computeSpectrum(const MusicTrack& track, int64_t frame, float out[SPECTRUM_SIZE]);

// Copies `frames` frames of the track from frame `position` into `out` as `outChannels`
// interleaved channels (a track channel missing from the track repeats its last one);
// frames before the start or past the end of the track are silence. Allocates nothing.
void copyTrackFrames(const MusicTrack& track, int64_t position, int64_t frames, int outChannels,
                     float* out);

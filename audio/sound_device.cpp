// The sound output for the music: libpulse where a Pulse server answers, SDL audio
// otherwise; SDL's device, its callback and the published hand-over, and the heard
// position over either. Owns which output is open and the pause.
#include "audio/sound_device.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "audio/heard_position.h"
#include "audio/pulse_output.h"

namespace {

constexpr int OUTPUT_CHANNELS = 2;

enum class Output { None, Sdl, Pulse };
Output output = Output::None;

SDL_AudioDeviceID device = 0;
int bufferFrames = 0;   // frames per callback
int latencyFrames = 0;  // from a hand-over to the moment its last frame is heard

// The source. Written by the main thread under the device lock, read by the callback,
// which SDL runs under that same lock.
const MusicTrack* sourceTrack = nullptr;
int64_t sourcePosition = 0;  // next track frame to hand over; may pass the track's end

// The hand-over, published by one writer at a time (the callback, or the main thread
// holding the device lock) as a sequence lock: an odd sequence means a write is under
// way, and a reader retries until it sees the same even sequence on both sides.
std::atomic<uint32_t> handOverSequence{0};
std::atomic<int64_t> handOverFrame{0};
std::atomic<int64_t> handOverTimeNs{0};

std::atomic<int64_t> callbackCalls{0};
std::atomic<int64_t> callbackTotalNs{0};
std::atomic<int64_t> callbackMaxNs{0};

// Main thread only.
const MusicTrack* playing = nullptr;
int64_t lastHeard = 0;
bool paused = false;

void publishHandOver(int64_t frame, int64_t timeNs) {
    // Release on the data keeps the odd sequence ahead of them; release on the final
    // sequence keeps the data ahead of it. No fences, so ThreadSanitizer follows it all.
    const uint32_t sequence = handOverSequence.load(std::memory_order_relaxed);
    handOverSequence.store(sequence + 1, std::memory_order_relaxed);
    handOverFrame.store(frame, std::memory_order_release);
    handOverTimeNs.store(timeNs, std::memory_order_release);
    handOverSequence.store(sequence + 2, std::memory_order_release);
}

void SDLCALL audioCallback(void*, Uint8* stream, int length) {
    const int64_t start = soundClockNs();
    const int frames = length / static_cast<int>(sizeof(float) * OUTPUT_CHANNELS);
    float* out = reinterpret_cast<float*>(stream);
    if (!sourceTrack || sourceTrack->channels <= 0) {
        std::memset(stream, 0, static_cast<size_t>(length));
        return;
    }
    copyTrackFrames(*sourceTrack, sourcePosition, frames, OUTPUT_CHANNELS, out);
    sourcePosition += frames;
    publishHandOver(sourcePosition, start);

    const int64_t spent = soundClockNs() - start;
    callbackCalls.fetch_add(1, std::memory_order_relaxed);
    callbackTotalNs.fetch_add(spent, std::memory_order_relaxed);
    if (spent > callbackMaxNs.load(std::memory_order_relaxed))
        callbackMaxNs.store(spent, std::memory_order_relaxed);
}

void quietAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA, which SDL falls back on without a sound server, prints its own lines to stderr
// when there is no sound card; our one line says it all. SDL loads ALSA at run time, so
// we reach the same library the same way. Nothing happens where ALSA is not installed.
void silenceAlsa() {
    static bool done = false;
    if (done) return;
    done = true;
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);  // kept open for the run
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(quietAlsaMessage);
}

// Device buffers between a hand-over and the moment its last frame is heard, for SDL's
// output driver `driver`. SDL's Pulse client (which also serves PipeWire through its
// Pulse layer) keeps about one device buffer queued in the server and is called back
// as that drains, so the buffer the callback fills plays after about one more: two.
// SDL reports no latency, so this is a measured figure: tools/av-sync.sh timed the sound
// on null sinks (their own ~5 ms blocks included) at 1.75 to 1.9 buffers after the
// newest hand-over on PulseAudio 16 and 1.9 to 2.0 on PipeWire 0.3.65 through its Pulse
// layer, with 1024-frame buffers. SDL's own PipeWire client measured 1.6 buffers at a
// 5 ms graph quantum and about 2.6 at a 21 ms one (timed less surely: the monitor came
// in 21 ms pieces); two is within 15 ms of both. It drops out under load more than the
// Pulse client, and then no fixed figure holds. Other drivers are unmeasured and keep
// the one buffer the callback fills.
int outputLatencyBuffers(const char* driver) {
    if (!driver) return 1;
    return std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pipewire") == 0 ? 2 : 1;
}

}  // namespace

int64_t soundClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool openSoundDevice(int frames, std::string* reason) {
    if (output != Output::None) return true;
    playing = nullptr;
    paused = false;
    // A Pulse server reports its latency and playback time; SDL's client does not. SDL's
    // output serves everything else, and whoever names an SDL driver gets it.
    std::string pulseFailure;
    const char* sdlDriver = std::getenv("SDL_AUDIODRIVER");
    if (!sdlDriver || !*sdlDriver) {
        // Two buffers in all, the server's and its sink's: what SDL's Pulse client kept.
        if (openPulseOutput(2 * frames, &pulseFailure)) {
            output = Output::Pulse;
            bufferFrames = frames;
            return true;
        }
        pulseFailure = " (" + pulseFailure + ")";
    }
    silenceAlsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        if (reason) *reason = std::string("no audio output: ") + SDL_GetError() + pulseFailure;
        return false;
    }
    output = Output::Sdl;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = MUSIC_RATE;
    want.format = AUDIO_F32SYS;
    want.channels = OUTPUT_CHANNELS;
    want.samples = static_cast<Uint16>(frames);
    want.callback = audioCallback;
    sourceTrack = nullptr;
    sourcePosition = 0;
    callbackCalls = 0;
    callbackTotalNs = 0;
    callbackMaxNs = 0;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware wants, so the callback
    // always sees this exact format and buffer size. The device opens paused.
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!device) {
        if (reason) *reason = std::string("no audio output: ") + SDL_GetError() + pulseFailure;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        output = Output::None;
        return false;
    }
    bufferFrames = have.samples;
    latencyFrames = bufferFrames * outputLatencyBuffers(SDL_GetCurrentAudioDriver());
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void closeSoundDevice() {
    if (output == Output::Pulse) closePulseOutput();  // joins the main loop thread
    if (device) {
        SDL_CloseAudioDevice(device);  // joins the audio thread
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    output = Output::None;
    device = 0;
    bufferFrames = 0;
    latencyFrames = 0;
    sourceTrack = nullptr;
    playing = nullptr;
    paused = false;
}

bool soundDeviceOpen() { return output != Output::None; }

const char* soundDriverName() {
    if (output == Output::Pulse) return "libpulse";
    const char* name = device ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? name : "none";
}

int soundBufferFrames() { return bufferFrames; }

int soundLatencyFrames() {
    if (output != Output::Pulse) return latencyFrames;
    const int64_t reported = pulsePlayback().latencyFrames;
    return reported > 0 ? int(reported) : 2 * bufferFrames;
}

void playSound(const MusicTrack* track, int64_t startFrame) {
    if (output == Output::Pulse) {
        setPulseSource(track, startFrame);
        const PulsePlayback now = pulsePlayback();
        playing = track;
        lastHeard = heardFrameAt(now.timing, now.writtenFrame, soundClockNs(), MUSIC_RATE, INT64_MIN);
        return;
    }
    if (!device) return;
    SDL_LockAudioDevice(device);
    sourceTrack = track;
    sourcePosition = startFrame;
    publishHandOver(startFrame, soundClockNs());
    SDL_UnlockAudioDevice(device);
    playing = track;
    lastHeard = startFrame - latencyFrames;
}

void stopSound() {
    if (output == Output::Pulse) setPulseSource(nullptr, 0);
    if (device) {
        SDL_LockAudioDevice(device);
        sourceTrack = nullptr;
        SDL_UnlockAudioDevice(device);
    }
    playing = nullptr;
}

void pauseSound(bool pause) {
    if (output == Output::None || pause == paused) return;
    if (pause) heardFrame();  // the position that stands while paused
    paused = pause;
    if (output == Output::Pulse) {
        corkPulseOutput(pause);
        return;
    }
    if (pause) {
        SDL_PauseAudioDevice(device, 1);
        return;
    }
    // SDL played out what it held while paused: what was handed over last is heard
    // after the usual latency from now, and the position runs on from where it stood.
    SDL_LockAudioDevice(device);
    publishHandOver(lastHandOver().frame, soundClockNs());
    SDL_UnlockAudioDevice(device);
    SDL_PauseAudioDevice(device, 0);
}

bool soundPaused() { return paused; }

const MusicTrack* playingTrack() { return playing; }

SoundHandOver lastHandOver() {
    if (output == Output::Pulse) {
        const PulsePlayback now = pulsePlayback();
        return {now.writtenFrame, now.writtenNs};
    }
    for (;;) {
        const uint32_t before = handOverSequence.load(std::memory_order_acquire);
        // Acquire on the data: a value from a newer write makes `after` see its odd sequence.
        const int64_t frame = handOverFrame.load(std::memory_order_acquire);
        const int64_t timeNs = handOverTimeNs.load(std::memory_order_acquire);
        const uint32_t after = handOverSequence.load(std::memory_order_relaxed);
        if (before == after && (before & 1u) == 0) return {frame, timeNs};
    }
}

int64_t heardFrame() {
    if (paused || output == Output::None) return lastHeard;
    if (output == Output::Pulse) {
        // The server's own playback time: its read index less its sink's latency, as of
        // its newest timing reply, carried on by the time since.
        const PulsePlayback now = pulsePlayback();
        lastHeard = heardFrameAt(now.timing, now.writtenFrame, soundClockNs(), MUSIC_RATE, lastHeard);
        return lastHeard;
    }
    // SDL tells nothing of its latency: the newest hand-over is taken to be heard
    // latencyFrames later, frame by frame at the nominal rate.
    const SoundHandOver handOver = lastHandOver();
    PlaybackTiming timing;
    timing.readFrame = handOver.frame;
    timing.latencyFrames = latencyFrames;
    timing.stampNs = handOver.timeNs;
    timing.running = true;
    lastHeard = heardFrameAt(timing, handOver.frame, soundClockNs(), MUSIC_RATE, lastHeard);
    return lastHeard;
}

SoundCallbackCost soundCallbackCost() {
    if (output == Output::Pulse) {
        SoundCallbackCost cost;
        pulseCallbackCost(&cost.calls, &cost.totalNs, &cost.maxNs);
        return cost;
    }
    return {callbackCalls.load(std::memory_order_relaxed), callbackTotalNs.load(std::memory_order_relaxed),
            callbackMaxNs.load(std::memory_order_relaxed)};
}

// SDL audio output for the music: the device, its callback and the published hand-over.
#include "audio/sound_device.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace {

constexpr int OUTPUT_CHANNELS = 2;

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
    if (device) return true;
    silenceAlsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        if (reason) *reason = std::string("no audio output: ") + SDL_GetError();
        return false;
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = MUSIC_RATE;
    want.format = AUDIO_F32SYS;
    want.channels = OUTPUT_CHANNELS;
    want.samples = static_cast<Uint16>(frames);
    want.callback = audioCallback;
    sourceTrack = nullptr;
    sourcePosition = 0;
    playing = nullptr;
    callbackCalls = 0;
    callbackTotalNs = 0;
    callbackMaxNs = 0;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware wants, so the callback
    // always sees this exact format and buffer size. The device opens paused.
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!device) {
        if (reason) *reason = std::string("no audio output: ") + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    bufferFrames = have.samples;
    latencyFrames = bufferFrames * outputLatencyBuffers(SDL_GetCurrentAudioDriver());
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void closeSoundDevice() {
    if (!device) return;
    SDL_CloseAudioDevice(device);  // joins the audio thread
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    device = 0;
    bufferFrames = 0;
    latencyFrames = 0;
    sourceTrack = nullptr;
    playing = nullptr;
}

bool soundDeviceOpen() { return device != 0; }

const char* soundDriverName() {
    const char* name = device ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? name : "none";
}

int soundBufferFrames() { return bufferFrames; }

int soundLatencyFrames() { return latencyFrames; }

void playSound(const MusicTrack* track, int64_t startFrame) {
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
    if (!device) return;
    SDL_LockAudioDevice(device);
    sourceTrack = nullptr;
    SDL_UnlockAudioDevice(device);
    playing = nullptr;
}

void pauseSound(bool paused) {
    // SDL stops calling back while the device is paused and feeds the output silence
    // itself, so the hand-over, and with it the heard position, stands still meanwhile.
    if (device) SDL_PauseAudioDevice(device, paused ? 1 : 0);
}

const MusicTrack* playingTrack() { return playing; }

SoundHandOver lastHandOver() {
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
    const SoundHandOver handOver = lastHandOver();
    // Clamped to 0..10 s: enough to pass any buffer, far from overflowing the product below.
    const int64_t sinceNs = std::clamp<int64_t>(soundClockNs() - handOver.timeNs, 0, 10000000000);
    int64_t heard = handOver.frame - latencyFrames + sinceNs * MUSIC_RATE / 1000000000;
    heard = std::min(heard, handOver.frame);
    heard = std::max(heard, lastHeard);
    lastHeard = heard;
    return heard;
}

SoundCallbackCost soundCallbackCost() {
    return {callbackCalls.load(std::memory_order_relaxed), callbackTotalNs.load(std::memory_order_relaxed),
            callbackMaxNs.load(std::memory_order_relaxed)};
}

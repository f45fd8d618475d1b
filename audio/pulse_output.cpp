// Playback through a Pulse server with libpulse's asynchronous API. Owns the main loop,
// the context, the stream and, under the loop's lock, the source and the newest timing.
#include "audio/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "audio/sound_device.h"

namespace {

constexpr int OUTPUT_CHANNELS = 2;
constexpr int FRAME_BYTES = OUTPUT_CHANNELS * int(sizeof(float));
constexpr pa_usec_t CONNECT_TIMEOUT_USEC = 3000000;
// Timing is asked for at every write and at least this often (us): the server writes
// nothing while it holds enough, and the heard position must not stand on an old reply.
constexpr pa_usec_t TIMING_PERIOD_USEC = 20000;

pa_threaded_mainloop* loop = nullptr;
pa_context* context = nullptr;
pa_stream* stream = nullptr;
pa_time_event* timingTimer = nullptr;
bool timedOut = false;  // the connection's deadline passed

// Under the loop's lock: written by the callbacks and by the main thread holding it.
const MusicTrack* sourceTrack = nullptr;
int64_t sourcePosition = 0;  // next track frame to write; may pass the track's end
int64_t trackOffset = 0;     // track frame minus stream frame, from the source's first write on
int64_t writtenFrames = 0;   // stream frames written since the stream opened
int64_t writtenNs = 0;
PlaybackTiming timing;       // in stream frames
int64_t latencyFrames = 0;
// Frames the server holds without counting them in its replies (see openPulseOutput).
int64_t unreportedFrames = 0;
bool corked = false;
// Timing replies to requests made before the last cork or uncork describe the other
// state and are dropped; one request of the current generation is in flight at most.
uint32_t generation = 0;
uint32_t pendingGeneration = UINT32_MAX;

std::atomic<int64_t> callbackCalls{0};
std::atomic<int64_t> callbackTotalNs{0};
std::atomic<int64_t> callbackMaxNs{0};

void timingReply(pa_stream* s, int success, void* tag);

void requestTiming(pa_stream* s) {
    if (pendingGeneration == generation) return;
    void* tag = reinterpret_cast<void*>(static_cast<uintptr_t>(generation));
    if (pa_operation* op = pa_stream_update_timing_info(s, timingReply, tag)) {
        pendingGeneration = generation;
        pa_operation_unref(op);
    }
}

void timingReply(pa_stream* s, int success, void* tag) {
    const uint32_t asked = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tag));
    if (asked == pendingGeneration) pendingGeneration = UINT32_MAX;
    if (!success || asked != generation) return;
    const pa_timing_info* info = pa_stream_get_timing_info(s);
    if (!info || info->read_index_corrupt) return;
    timing = timingFromServer(info->read_index, int64_t(info->sink_usec), int64_t(info->transport_usec),
                              info->playing != 0, corked, soundClockNs(), FRAME_BYTES, MUSIC_RATE);
    if (!corked) timing.latencyFrames += unreportedFrames;
    latencyFrames = std::max<int64_t>(writtenFrames - info->read_index / FRAME_BYTES, 0) +
                    int64_t(info->sink_usec) * MUSIC_RATE / 1000000 + unreportedFrames;
}

// The server wants `bytes` more: the track's next frames, or silence without a source.
void writeRequest(pa_stream* s, size_t bytes, void*) {
    const int64_t start = soundClockNs();
    bool copied = false;
    while (bytes >= size_t(FRAME_BYTES)) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(s, &data, &size) < 0 || !data) break;
        size = std::min(size, bytes) / FRAME_BYTES * FRAME_BYTES;
        if (size == 0) {
            pa_stream_cancel_write(s);
            break;
        }
        const int64_t frames = int64_t(size) / FRAME_BYTES;
        if (sourceTrack && sourceTrack->channels > 0) {
            copyTrackFrames(*sourceTrack, sourcePosition, frames, OUTPUT_CHANNELS, static_cast<float*>(data));
            sourcePosition += frames;
            copied = true;
        } else {
            std::memset(data, 0, size);
        }
        if (pa_stream_write(s, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
        writtenFrames += frames;
        bytes -= size;
    }
    writtenNs = start;
    // Each write, and the timer between, asks for a fresh timing reply, so that a
    // change of the server's buffering is followed within 20 ms and one round trip.
    requestTiming(s);
    if (!copied) return;
    const int64_t spent = soundClockNs() - start;
    callbackCalls.fetch_add(1, std::memory_order_relaxed);
    callbackTotalNs.fetch_add(spent, std::memory_order_relaxed);
    if (spent > callbackMaxNs.load(std::memory_order_relaxed)) callbackMaxNs.store(spent, std::memory_order_relaxed);
}

void signalLoop(pa_context*, void*) { pa_threaded_mainloop_signal(loop, 0); }
void timingTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void*) {
    requestTiming(stream);
    pa_context_rttime_restart(context, event, pa_rtclock_now() + TIMING_PERIOD_USEC);
}
void serverInfo(pa_context*, const pa_server_info* info, void* onPipeWire) {
    *static_cast<bool*>(onPipeWire) = info && info->server_name && std::strstr(info->server_name, "PipeWire");
    pa_threaded_mainloop_signal(loop, 0);
}
void signalLoopStream(pa_stream*, void*) { pa_threaded_mainloop_signal(loop, 0); }
void connectDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) {
    timedOut = true;
    pa_threaded_mainloop_signal(loop, 0);
}

// Releases everything; the loop's lock must not be held.
void release() {
    if (!loop) return;
    pa_threaded_mainloop_lock(loop);
    if (timingTimer) {
        pa_threaded_mainloop_get_api(loop)->time_free(timingTimer);
        timingTimer = nullptr;
    }
    if (stream) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
    if (context) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

// Waits (lock held) until `ready`, a failure state or the deadline; true when ready.
template <typename Ready, typename Failed>
bool waitFor(Ready ready, Failed failed) {
    while (!ready()) {
        if (failed() || timedOut) return false;
        pa_threaded_mainloop_wait(loop);
    }
    return true;
}

}  // namespace

bool openPulseOutput(int bufferFrames, std::string* reason) {
    if (loop) return true;
    sourceTrack = nullptr;
    sourcePosition = trackOffset = writtenFrames = writtenNs = latencyFrames = unreportedFrames = 0;
    timing = PlaybackTiming();
    corked = false;
    timedOut = false;
    pendingGeneration = UINT32_MAX;
    callbackCalls = 0;
    callbackTotalNs = 0;
    callbackMaxNs = 0;
    loop = pa_threaded_mainloop_new();
    if (!loop || pa_threaded_mainloop_start(loop) < 0) {
        if (reason) *reason = "libpulse: no main loop";
        if (loop) pa_threaded_mainloop_free(loop);
        loop = nullptr;
        return false;
    }
    pa_threaded_mainloop_lock(loop);
    std::string why;
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "velmora");
    pa_time_event* deadline = nullptr;
    if (context) {
        pa_context_set_state_callback(context, signalLoop, nullptr);
        deadline = pa_context_rttime_new(context, pa_rtclock_now() + CONNECT_TIMEOUT_USEC, connectDeadline, nullptr);
    }
    const auto contextFailed = [] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
    };
    if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !waitFor([] { return pa_context_get_state(context) == PA_CONTEXT_READY; }, contextFailed)) {
        why = timedOut ? "no answer from the server" : context ? pa_strerror(pa_context_errno(context)) : "no context";
    } else {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(MUSIC_RATE), uint8_t(OUTPUT_CHANNELS)};
        stream = pa_stream_new(context, "music", &spec, nullptr);
        // The whole latency asked for, the server's buffer and the sink's together (with
        // ADJUST_LATENCY the server sizes the sink for it); the rest as the server likes.
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(bufferFrames * FRAME_BYTES);
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(-1);
        const pa_stream_flags_t flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        const auto streamFailed = [] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
        };
        if (stream) {
            pa_stream_set_state_callback(stream, signalLoopStream, nullptr);
            pa_stream_set_write_callback(stream, writeRequest, nullptr);
        }
        if (!stream || pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0 ||
            !waitFor([] { return pa_stream_get_state(stream) == PA_STREAM_READY; }, streamFailed))
            why = timedOut ? "the server did not take the stream" : pa_strerror(pa_context_errno(context));
    }
    if (why.empty()) {
        // PipeWire's Pulse layer takes one request (minreq) at a time into its graph,
        // a cycle before that is played, and replies as if it had been played: the
        // heard position ran 10 to 12 ms ahead of the sink there (tools/av-sync.sh, 0.3.65,
        // a 512-frame request) and matched PulseAudio with the request added.
        bool onPipeWire = false;
        if (pa_operation* op = pa_context_get_server_info(context, serverInfo, &onPipeWire)) {
            while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && !timedOut) pa_threaded_mainloop_wait(loop);
            pa_operation_unref(op);
        }
        const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream);
        unreportedFrames = onPipeWire && granted ? int64_t(granted->minreq) / FRAME_BYTES : 0;
        timingTimer = pa_context_rttime_new(context, pa_rtclock_now() + TIMING_PERIOD_USEC, timingTick, nullptr);
    }
    if (deadline) pa_threaded_mainloop_get_api(loop)->time_free(deadline);
    pa_threaded_mainloop_unlock(loop);
    if (why.empty()) return true;
    if (reason) *reason = "libpulse: " + why;
    release();
    return false;
}

void closePulseOutput() { release(); }

void setPulseSource(const MusicTrack* track, int64_t startFrame) {
    if (!loop) return;
    pa_threaded_mainloop_lock(loop);
    sourceTrack = track;
    sourcePosition = startFrame;
    if (track) trackOffset = startFrame - writtenFrames;
    pa_threaded_mainloop_unlock(loop);
}

void corkPulseOutput(bool cork) {
    if (!loop) return;
    pa_threaded_mainloop_lock(loop);
    if (cork != corked) {
        // Until the server's first reply in the new state, the position stands where
        // it is heard now.
        const int64_t now = soundClockNs();
        timing.readFrame = heardFrameAt(timing, writtenFrames, now, MUSIC_RATE, INT64_MIN);
        timing.latencyFrames = 0;
        timing.stampNs = now;
        timing.running = false;
        corked = cork;
        ++generation;
        if (pa_operation* op = pa_stream_cork(stream, cork ? 1 : 0, nullptr, nullptr)) pa_operation_unref(op);
        requestTiming(stream);
    }
    pa_threaded_mainloop_unlock(loop);
}

PulsePlayback pulsePlayback() {
    PulsePlayback playback;
    if (!loop) return playback;
    pa_threaded_mainloop_lock(loop);
    playback.timing = timing;
    playback.timing.readFrame += trackOffset;
    playback.writtenFrame = writtenFrames + trackOffset;
    playback.writtenNs = writtenNs;
    playback.latencyFrames = latencyFrames;
    pa_threaded_mainloop_unlock(loop);
    return playback;
}

void pulseCallbackCost(int64_t* calls, int64_t* totalNs, int64_t* maxNs) {
    *calls = callbackCalls.load(std::memory_order_relaxed);
    *totalNs = callbackTotalNs.load(std::memory_order_relaxed);
    *maxNs = callbackMaxNs.load(std::memory_order_relaxed);
}

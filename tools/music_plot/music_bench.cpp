// Measures what the music adds to the demo: start-up (reading and decoding the track),
// one spectrum per frame, the audio callback, and the output latency the heard position
// assumes. Plays on whatever SDL_AUDIODRIVER selects (the disk driver with
// SDL_DISKAUDIOFILE=/dev/null and SDL_DISKAUDIODELAY=0 runs the callback flat out).
// Usage: music-bench MUSIC.mp3 [PLAY_SECONDS=3]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "app/timeline.h"
#include "audio/music_player.h"
#include "audio/sound_device.h"
#include "tools/common/arguments.h"

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of this thread, ms: unlike wall time, not inflated by other work on the machine.
double threadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: music-bench MUSIC.mp3 [PLAY_SECONDS=3]\n");
        return 2;
    }
    double playSeconds = 3.0;
    if (argc > 2 && !parseNumberArgument(argv[2], 0.1, 3600.0, playSeconds)) {
        std::fprintf(stderr, "music-bench: PLAY_SECONDS %s: expected 0.1 to 3600\n", argv[2]);
        return 2;
    }

    // Start-up: the demo's loadStream (read the file, decode, resample if needed), 5 times.
    std::vector<double> loads, loadsCpu;
    for (int run = 0; run < 5; ++run) {
        MusicPlayer player;
        const auto start = std::chrono::steady_clock::now();
        const double cpu = threadCpuMs();
        if (!player.loadStream(0, argv[1])) return 1;
        loadsCpu.push_back(threadCpuMs() - cpu);
        loads.push_back(msSince(start));
    }
    MusicPlayer& player = musicPlayer;
    auto start = std::chrono::steady_clock::now();
    const bool device = player.initMusic();
    const double initMs = msSince(start);
    player.loadStream(0, argv[1]);
    const MusicTrack& track = *player.track(0);
    const double seconds = double(track.frameCount) / MUSIC_RATE;
    std::printf("track: %.2f s, %lld frames\n", seconds, static_cast<long long>(track.frameCount));
    std::printf("start-up: loadStream (read + decode) wall median %.1f ms, best %.1f ms of 5; "
                "CPU median %.1f ms; initMusic %.1f ms (%s)\n",
                median(loads), *std::min_element(loads.begin(), loads.end()), median(loadsCpu), initMs,
                device ? "device open" : "no device");

    // One spectrum per frame at 60 Hz over the whole track, as computeSpectrum and through
    // the player's offline path; and the music level on top.
    std::vector<double> each;
    float values[SPECTRUM_SIZE];
    float sink = 0.0f;
    const double spectrumCpu = threadCpuMs();
    for (int64_t k = 0; k < int64_t(seconds * 60); ++k) {
        const auto t = std::chrono::steady_clock::now();
        computeSpectrum(track, k * MUSIC_RATE / 60, values);
        sink += computeMusicLevel(values);
        each.push_back(msSince(t) * 1000.0);
    }
    const double cpuUs = (threadCpuMs() - spectrumCpu) * 1000.0 / std::max<size_t>(each.size(), 1);
    double total = 0.0;
    for (double e : each) total += e;
    std::printf("spectrum + level per frame: wall mean %.1f us, median %.1f us, max %.1f us over %zu frames; "
                "CPU mean %.1f us (%.2f%% of a 16.7 ms frame)\n",
                total / each.size(), median(each), *std::max_element(each.begin(), each.end()), each.size(),
                cpuUs, cpuUs / 16667.0 * 100.0);

    if (device) {
        player.playStream(0, 0);
        // Flat out on the disk driver the track is over in a moment; just let it run.
        std::this_thread::sleep_for(std::chrono::duration<double>(playSeconds));
        player.stopStream(0);
        const SoundCallbackCost cost = soundCallbackCost();
        const double bufferMs = 1000.0 * soundBufferFrames() / MUSIC_RATE;
        if (cost.calls > 0) {
            const double meanUs = cost.totalNs / 1000.0 / cost.calls;
            std::printf("callback: %lld calls of %d frames, mean %.2f us, max %.1f us "
                        "(%.3f%% of the %.1f ms buffer period)\n",
                        static_cast<long long>(cost.calls), soundBufferFrames(), meanUs, cost.maxNs / 1000.0,
                        meanUs / (bufferMs * 10.0), bufferMs);
        }
        std::printf("assumed output latency: %d frames = %.1f ms\n", soundLatencyFrames(),
                    1000.0 * soundLatencyFrames() / MUSIC_RATE);
    }
    player.closeMusic();
    return sink < 0.0f ? 1 : 0;  // keeps the work from being optimised away
}

// Drives the music player the way the demo does, but hard: the main thread reads the
// spectrum and the heard position in a tight loop, stops, restarts, seeks, pauses and
// resumes while SDL's audio thread runs the callback flat out on the disk driver (or,
// with "pulse", libpulse's main loop thread writes to the Pulse server PULSE_SERVER
// names), then plays a track that is still being decoded on a third thread.
// ThreadSanitizer fails the run on any data race; the checks here fail it on a position
// that runs backwards or moves while paused.
// Usage: audio_tsan SCRATCH_FOLDER [pulse]; status 77 when the Pulse server refuses the
// stream or never asks for the track
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/music_player.h"
#include "audio/sound_device.h"
#include "tools/music_plot/mp3_encode.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "audio_tsan: %s\n", what);
        ++failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool pulse = argc == 3 && std::string(argv[2]) == "pulse";
    if (argc != 2 && !pulse) {
        std::fprintf(stderr, "usage: audio_tsan SCRATCH_FOLDER [pulse]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string music = folder + "/tsan-beat.mp3";
    const std::string raw = folder + "/tsan-device.raw";
    std::vector<unsigned char> mp3;
    std::string error;
    if (!encodeMp3(synthBeat(2.0, 44100, 120), 2, 44100, 128, mp3, &error)) {
        std::fprintf(stderr, "audio_tsan: %s\n", error.c_str());
        return 1;
    }
    std::FILE* file = std::fopen(music.c_str(), "wb");
    if (!file) return 1;
    std::fwrite(mp3.data(), 1, mp3.size(), file);
    std::fclose(file);

    if (pulse) {
        unsetenv("SDL_AUDIODRIVER");
    } else {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1);  // about 20 times real time
    }

    MusicPlayer player;
    // 77: the server would not take the stream, which is no fault of the code under test.
    if (pulse && (!player.initMusic() || std::string(soundDriverName()) != "libpulse")) return 77;
    check(player.initMusic(), "no sound output");
    check(std::string(soundDriverName()) == (pulse ? "libpulse" : "disk"), "not the output asked for");
    check(player.loadStream(0, music.c_str()), "the track does not load");
    player.playStream(0, 0);
    if (pulse) {
        // A loaded machine can keep the server from asking for a while; the races need
        // its requests coming.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (soundCallbackCost().calls == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (soundCallbackCost().calls == 0) return 77;
    }

    int64_t previous = heardFrame();
    float level = 0.0f;
    for (int round = 0; round < 12; ++round) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
        while (std::chrono::steady_clock::now() < end) {
            const float* values = player.spectrum();
            for (int i = 0; i < 40; ++i) level += values[i];
            const int64_t heard = heardFrame();
            check(heard >= previous, "the heard position went backwards");
            check(heard <= lastHandOver().frame, "heard beyond what was handed over");
            previous = heard;
        }
        // A pause: the position stands still while the output's thread runs on.
        pauseSound(true);
        const int64_t held = heardFrame();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        player.spectrum();
        check(heardFrame() == held, "the heard position moved while paused");
        pauseSound(false);
        check(heardFrame() >= held, "the heard position went back at the resume");
        // Stop, then start again somewhere else, as a reload or seek would.
        player.stopStream(0);
        player.spectrum();
        player.playStream(0, (round * 7919) % 80000);
        previous = heardFrame();
    }
    // The track decoding on a thread of its own, slowed down so that playback keeps
    // reaching what is not decoded yet, while it plays and its spectrum is read.
    player.prefetchStream(1, music.c_str(), 3000);
    check(player.loadStream(1, music.c_str()), "the prefetched track does not load");
    player.playStream(1, 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        const float* values = player.spectrum();
        for (int i = 0; i < SPECTRUM_SIZE; ++i) check(values[i] == values[i], "a spectrum of unfinished frames");
    }
    player.stopStream(1);

    const int64_t callbacks = soundCallbackCost().calls;
    check(callbacks > 0, "the callback never ran");
    check(level > 0.0f, "the spectrum never moved");
    player.stopStream(0);
    player.closeMusic();
    player.releaseMusic();
    std::remove(raw.c_str());
    std::remove(music.c_str());
    std::printf("audio_tsan: %s: %d failures, %lld callbacks\n", pulse ? "libpulse" : "disk", failures,
                static_cast<long long>(callbacks));
    return failures == 0 ? 0 : 1;
}

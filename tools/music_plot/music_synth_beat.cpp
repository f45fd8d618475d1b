// Writes a synthesised MP3 with a clear beat, for plots and measurements when no real
// track is at hand. Usage: music-synth-beat OUT.mp3 [SECONDS=20] [BPM=120] [RATE=44100]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/music_plot/mp3_encode.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: music-synth-beat OUT.mp3 [SECONDS=20] [BPM=120] [RATE=44100]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    const double bpm = argc > 3 ? std::atof(argv[3]) : 120.0;
    const int rate = argc > 4 ? std::atoi(argv[4]) : 44100;
    if (seconds <= 0 || seconds > 3600 || bpm <= 0 || rate < 8000 || rate > 48000) {
        std::fprintf(stderr, "music-synth-beat: seconds 0..3600, bpm > 0, rate 8000..48000\n");
        return 2;
    }
    std::vector<unsigned char> mp3;
    std::string error;
    if (!encodeMp3(synthBeat(seconds, rate, bpm), 2, rate, 128, mp3, &error)) {
        std::fprintf(stderr, "music-synth-beat: %s\n", error.c_str());
        return 1;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file || std::fwrite(mp3.data(), 1, mp3.size(), file) != mp3.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "music-synth-beat: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %.1f s at %.0f bpm, %d Hz, %zu bytes\n", argv[1], seconds, bpm, rate, mp3.size());
    return 0;
}

// Writes a synthesised MP3 with a clear beat, for plots and measurements when no real
// track is at hand. Usage: music-synth-beat OUT.mp3 [SECONDS=20] [BPM=120] [RATE=44100]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/common/arguments.h"
#include "tools/common/output_file.h"
#include "tools/music_plot/mp3_encode.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: music-synth-beat OUT.mp3 [SECONDS=20] [BPM=120] [RATE=44100]\n");
        return 2;
    }
    double seconds = 20.0, bpm = 120.0;
    int rate = 44100;
    if ((argc > 2 && !parseNumberArgument(argv[2], 0.001, 3600.0, seconds)) ||
        (argc > 3 && !parseNumberArgument(argv[3], 1.0, 1000.0, bpm)) ||
        (argc > 4 && !parseIntArgument(argv[4], 8000, 48000, rate))) {
        std::fprintf(stderr, "music-synth-beat: seconds 0.001..3600, bpm 1..1000, rate 8000..48000\n");
        return 2;
    }
    std::vector<unsigned char> mp3;
    std::string error;
    if (!encodeMp3(synthBeat(seconds, rate, bpm), 2, rate, 128, mp3, &error)) {
        std::fprintf(stderr, "music-synth-beat: %s\n", error.c_str());
        return 1;
    }
    OutputFile out;
    bool written = openOutput(out, argv[1], &error);
    if (written) {
        std::fwrite(mp3.data(), 1, mp3.size(), out.file);  // a short write shows in commitOutput
        written = commitOutput(out, &error);
    }
    if (!written) {
        std::fprintf(stderr, "music-synth-beat: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::printf("%s: %.1f s at %.0f bpm, %d Hz, %zu bytes\n", argv[1], seconds, bpm, rate, mp3.size());
    return 0;
}

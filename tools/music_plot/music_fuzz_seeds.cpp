// Writes the seed MP3s for the music loader's fuzz target: short synthesised beats at
// several rates, mono and stereo, with and without the Info tag, bare or wrapped in ID3
// tags. Small on purpose (a few KiB each), so that the fuzzer mutates whole files.
// Usage: music-fuzz-seeds OUTDIR
#include <cstdio>
#include <string>
#include <vector>

#include "tools/music_plot/mp3_encode.h"

namespace {

struct Seed {
    const char* name;
    int rate;      // Hz
    int channels;  // 1 or 2
    int kbps;
    bool infoTag;  // Info tag with delay, padding and length
    bool id3;      // an ID3v2 tag before the audio and an ID3v1 tag after it
};

const Seed SEEDS[] = {
    {"44100-stereo-info.mp3", 44100, 2, 64, true, false},
    {"44100-mono-bare.mp3", 44100, 1, 32, false, false},
    {"48000-stereo-id3.mp3", 48000, 2, 64, true, true},
    {"32000-mono-info.mp3", 32000, 1, 32, true, false},
    {"22050-stereo-bare-id3.mp3", 22050, 2, 32, false, true},
    {"16000-mono-info.mp3", 16000, 1, 16, true, false},
    {"11025-mono-bare.mp3", 11025, 1, 8, false, false},
    {"8000-stereo-info-id3.mp3", 8000, 2, 16, true, true},
};

void append(std::vector<unsigned char>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

// ID3v2.3 with one title frame; sizes are synchsafe (7 bits a byte).
std::vector<unsigned char> id3v2(const std::string& title) {
    std::vector<unsigned char> frame;
    append(frame, "TIT2");
    const size_t body = title.size() + 1;  // encoding byte, then Latin-1 text
    frame.insert(frame.end(), {0, 0, 0, static_cast<unsigned char>(body), 0, 0, 0});
    append(frame, title);
    std::vector<unsigned char> tag = {'I', 'D', '3', 3, 0, 0};
    const size_t n = frame.size();
    tag.insert(tag.end(), {static_cast<unsigned char>(n >> 21 & 0x7F), static_cast<unsigned char>(n >> 14 & 0x7F),
                           static_cast<unsigned char>(n >> 7 & 0x7F), static_cast<unsigned char>(n & 0x7F)});
    tag.insert(tag.end(), frame.begin(), frame.end());
    return tag;
}

// ID3v1: "TAG", title, artist, album (30 bytes each), year (4), comment (30), genre.
std::vector<unsigned char> id3v1(const std::string& title) {
    std::vector<unsigned char> tag(128, 0);
    tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
    for (size_t i = 0; i < title.size() && i < 30; ++i) tag[3 + i] = static_cast<unsigned char>(title[i]);
    tag[127] = 255;
    return tag;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: music-fuzz-seeds OUTDIR\n");
        return 2;
    }
    for (const Seed& seed : SEEDS) {
        // 0.3 s of the beat (a kick at 0 s and the off-beat burst at 0.25 s).
        const std::vector<float> stereo = synthBeat(0.3, seed.rate, 120);
        std::vector<float> samples;
        if (seed.channels == 2) {
            samples = stereo;
        } else {
            for (size_t i = 0; i < stereo.size(); i += 2) samples.push_back(stereo[i]);
        }
        std::vector<unsigned char> mp3, file;
        std::string error;
        if (!encodeMp3(samples, seed.channels, seed.rate, seed.kbps, mp3, &error, seed.infoTag)) {
            std::fprintf(stderr, "music-fuzz-seeds: %s: %s\n", seed.name, error.c_str());
            return 1;
        }
        if (seed.id3) file = id3v2("velmora seed");
        file.insert(file.end(), mp3.begin(), mp3.end());
        if (seed.id3) {
            const std::vector<unsigned char> tail = id3v1("velmora seed");
            file.insert(file.end(), tail.begin(), tail.end());
        }
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        const bool written = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
        if (!out || std::fclose(out) != 0 || !written) {
            std::fprintf(stderr, "music-fuzz-seeds: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), file.size());
    }
    return 0;
}

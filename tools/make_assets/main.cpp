// make-assets OUTDIR [music|pictures]: writes the demo's default track as
// OUTDIR/music.mp3 and its pictures as OUTDIR/textures/*.jpg (both by default).
// Deterministic: the same build writes the same files every time.
#include "tools/make_assets/encode.h"
#include "tools/make_assets/music.h"
#include "tools/make_assets/pictures.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

bool makeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    std::fprintf(stderr, "make-assets: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    std::string part = argc == 3 ? argv[2] : "";
    if (argc < 2 || argc > 3 || (argc == 3 && part != "music" && part != "pictures")) {
        std::fprintf(stderr, "usage: make-assets OUTDIR [music|pictures]\n");
        return 2;
    }
    std::string out = argv[1];
    if (!makeFolder(out))
        return 1;
    std::string error;
    if (part != "music") {
        if (!makeFolder(out + "/textures"))
            return 1;
        for (const assets::PictureFile& file : assets::drawPictures()) {
            if (!assets::writeJpeg(out + "/textures/" + file.name, file.pixels.data(), file.width,
                                   file.height, file.components, file.layout, error)) {
                std::fprintf(stderr, "make-assets: %s\n", error.c_str());
                return 1;
            }
        }
        std::printf("textures: 13 pictures written\n");
    }
    if (part != "pictures") {
        assets::MusicStats stats;
        std::vector<int16_t> pcm = assets::synthesizeMusic(&stats);
        if (!assets::writeMp3(out + "/music.mp3", pcm, 192, error)) {
            std::fprintf(stderr, "make-assets: %s\n", error.c_str());
            return 1;
        }
        std::printf("music.mp3: %.3f s, peak %.2f dBFS, RMS %.2f dBFS (synthesised PCM)\n",
                    pcm.size() / 2 / 44100.0, stats.peakDbfs, stats.rmsDbfs);
    }
    return 0;
}

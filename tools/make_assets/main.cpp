// make-assets OUTDIR [music|pictures]: writes the demo's default track as
// OUTDIR/music.mp3 and its pictures as OUTDIR/textures/*.jpg (both by default).
// make-assets OUTDIR icon: writes the desktop icon as OUTDIR/hicolor/NxN/apps/velmora.png.
// Deterministic: the same build writes the same files every time.
#include "tools/make_assets/encode.h"
#include "tools/make_assets/icon.h"
#include "tools/make_assets/music.h"
#include "tools/make_assets/pictures.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
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
    if (argc < 2 || argc > 3 || (argc == 3 && part != "music" && part != "pictures" && part != "icon")) {
        std::fprintf(stderr, "usage: make-assets OUTDIR [music|pictures|icon]\n");
        return 2;
    }
    std::string out = argv[1];
    if (!makeFolder(out))
        return 1;
    std::string error;
    if (part == "icon") {
        for (int size : assets::ICON_SIZES) {
            const std::string sized = out + "/hicolor/" + std::to_string(size) + "x" + std::to_string(size);
            const std::string folder = sized + "/apps";
            if (!makeFolder(out + "/hicolor") || !makeFolder(sized) || !makeFolder(folder))
                return 1;
            if (!assets::writeIconPng(folder + "/velmora.png", size, assets::drawIcon(size), error)) {
                std::fprintf(stderr, "make-assets: %s\n", error.c_str());
                return 1;
            }
        }
        std::printf("icon: %zu sizes written\n", std::size(assets::ICON_SIZES));
        return 0;
    }
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

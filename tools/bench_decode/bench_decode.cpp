// bench-decode ROUNDS FILE.jpg...: decodes the files ROUNDS times each way, our decoder
// (as a texture load runs it) and libjpeg-turbo with djpeg -dct float -nosmooth's
// settings, alternating, and prints the fastest and the median processor time of one
// pass over all files (processor time, as the machine may be shared).
#include <algorithm>
#include <ctime>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>  // needs size_t and FILE declared first

#include "texture/jpeg_decoder.h"
#include "texture/texture_bank.h"
#include "tools/common/arguments.h"

namespace {

// Processor time of this process, ms.
double cpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One pass over the files with our decoder; false when one fails.
bool decodeOurs(const std::vector<const char*>& files) {
    for (const char* path : files) {
        if (!decodeTextureFile(path)) {
            std::fprintf(stderr, "bench-decode: %s: %s\n", path, jpegDecoder.failure);
            return false;
        }
        releaseJpegPixels();
    }
    return true;
}

// One pass with libjpeg-turbo: float IDCT, replicated chroma, RGB out.
bool decodeLibjpeg(const std::vector<const char*>& files) {
    for (const char* path : files) {
        FILE* file = std::fopen(path, "rb");
        if (!file) return false;
        jpeg_decompress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        info.dct_method = JDCT_FLOAT;
        info.do_fancy_upsampling = FALSE;
        jpeg_start_decompress(&info);
        std::vector<unsigned char> pixels(size_t(info.output_width) * info.output_height *
                                          info.output_components);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = &pixels[size_t(info.output_scanline) * info.output_width * info.output_components];
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        std::fclose(file);
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-decode ROUNDS FILE.jpg...\n");
        return 2;
    }
    int rounds = 0;
    if (!parseIntArgument(argv[1], 1, 100000, rounds)) {
        std::fprintf(stderr, "bench-decode: ROUNDS %s: expected a whole number from 1 to 100000\n", argv[1]);
        return 2;
    }
    const std::vector<const char*> files(argv + 2, argv + argc);
    std::vector<double> ours, theirs;  // ms per pass
    for (int r = 0; r < rounds; ++r) {
        const double t0 = cpuMs();
        if (!decodeOurs(files)) return 1;
        const double t1 = cpuMs();
        if (!decodeLibjpeg(files)) return 1;
        const double t2 = cpuMs();
        ours.push_back(t1 - t0);
        theirs.push_back(t2 - t1);
    }
    const double oursBest = *std::min_element(ours.begin(), ours.end());
    const double theirsBest = *std::min_element(theirs.begin(), theirs.end());
    std::printf("%zu files, %d passes; fastest: ours %.1f ms, libjpeg-turbo %.1f ms, ratio %.2f; "
                "median: ours %.1f ms, libjpeg-turbo %.1f ms, ratio %.2f\n",
                files.size(), rounds, oursBest, theirsBest, oursBest / theirsBest, median(ours),
                median(theirs), median(ours) / median(theirs));
    return 0;
}

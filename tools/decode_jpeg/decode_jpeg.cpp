// decode-jpeg INPUT.jpg OUTPUT.pam: decodes INPUT with the demo's own decoder, exactly
// as a plain texture load does, and writes its RGBA pixels (alpha 255) as a PAM file.
// On a file it cannot decode it writes nothing, says why on stderr and exits with 1.
// --help prints the usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "texture/jpeg_decoder.h"
#include "texture/texture_bank.h"
#include "tools/common/output_file.h"

namespace {
const char* const USAGE =
    "Usage: decode-jpeg INPUT.jpg OUTPUT.pam\n"
    "       decode-jpeg --help\n"
    "Decodes INPUT with the demo's own JPEG decoder, as a texture load does, and writes its\n"
    "pixels as a PAM image (RGB_ALPHA, alpha 255). Accepts baseline JPEG with one or three\n"
    "components in one interleaved scan. Exit status: 0 written, 1 cannot decode or write,\n"
    "2 bad command line.\n";
}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (argc != 3) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    const char* input = argv[1];
    const char* output = argv[2];
    if (!decodeTextureFile(input)) {
        std::fprintf(stderr, "decode-jpeg: %s: %s\n", input, jpegDecoder.failure);
        return 1;
    }
    if (jpegDecoder.warning) std::fprintf(stderr, "decode-jpeg: %s: %s\n", input, jpegDecoder.warning);

    const JpegDecoder& d = jpegDecoder;
    // Written whole or not at all: a failed write leaves any older OUTPUT as it was.
    OutputFile out;
    std::string error;
    bool written = openOutput(out, output, &error);
    if (written) {
        const size_t bytes = static_cast<size_t>(d.width) * d.height * 4;
        std::fprintf(out.file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                     d.width, d.height);
        std::fwrite(d.pixels, 1, bytes, out.file);  // a short write shows in commitOutput
        written = commitOutput(out, &error);
    }
    releaseJpegPixels();
    if (!written) {
        std::fprintf(stderr, "decode-jpeg: %s: %s\n", output, error.c_str());
        return 1;
    }
    return 0;
}

// libFuzzer target: any byte string through the decoder, read from a memory stream
// exactly as the texture bank reads a file.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "texture/jpeg_decoder.h"

// Frames above 512 x 512 pixels (the demo's largest textures) are parsed but not
// decoded: a huge frame of garbage costs time per input and adds no coverage. The
// decoder's own size limit has unit tests.
constexpr int64_t FUZZ_MAX_PIXELS = 1 << 18;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream) return 0;
    resetDecoder();
    jpegDecoder.file = stream;
    if (readHeaders() && int64_t(jpegDecoder.width) * jpegDecoder.height <= FUZZ_MAX_PIXELS) {
        std::rewind(stream);
        if (decodeJpegStream(stream)) releaseJpegPixels();
    }
    std::fclose(stream);
    return 0;
}

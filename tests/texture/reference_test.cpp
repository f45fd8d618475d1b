// Whole pictures encoded by libjpeg-turbo's cjpeg (data/, see make-test-jpegs.sh):
// our output against its own float decoder within a small tolerance, and against
// golden checksums of our own output; and every input the fuzzer ever crashed on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/texture/jpeg_test_util.h"
#include "texture/jpeg_decoder.h"
#include "texture/texture_bank.h"

namespace {

// FNV-1a, 64 bits.
uint64_t checksum(const uint8_t* bytes, size_t count) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < count; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

struct Reference {
    const char* name;    // data/<name>.jpg
    int tolerance;       // largest difference per channel from djpeg -dct float -nosmooth
    uint64_t golden;     // checksum of our RGBA output
};

// libjpeg-turbo rounds where we truncate (samples, then colour) and converts colour in
// fixed point: a grey sample differs by at most 1; a colour channel by at most 4, as
// Y, Cb and Cr each differ by up to 1 before the colour matrix (Cr weighs 1.402) and
// the conversion truncates. Chroma is compared against its replicating upsampler.
const Reference references[] = {
    {"grey-37x29", 1, 0x9dc3e7b3661cea79ull},
    {"grey-23x17", 1, 0x82f596cf63fb6134ull},
    {"grey-sampled2x2-23x17", 1, 0x0a48b71221d5f80aull},
    {"ycc444-37x29", 4, 0x2b30b86ddb52d65bull},
    {"ycc422-37x29", 4, 0x227b2609d7b28f68ull},
    {"ycc420-37x29", 4, 0x48f1b951b9e66190ull},
    {"ycc420-16x16", 4, 0x3ec7c6a2d26b352bull},
    {"ycc420-1x1", 4, 0xf3deabfc1892348eull},
    {"ycc420-restart-row-45x35", 4, 0xc6e1344c3be35206ull},
    {"ycc420-restart-3mcu-45x35", 4, 0xa135abe9d6a8bf65ull},
    {"ycc444-q16bit-33x20", 4, 0xc7a97aaedb103bc7ull},
    {"ycc420-optimized-50x42", 4, 0x4ed56bea048e3cccull},
};

TEST(JpegReference, CloseToLibjpegTurboAndExactlyAsBefore) {
    for (const Reference& r : references) {
        SCOPED_TRACE(r.name);
        const std::string path = testsFile(std::string("data/") + r.name + ".jpg");
        ASSERT_TRUE(decodeTextureFile(path.c_str())) << jpegDecoder.failure;
        EXPECT_EQ(jpegDecoder.warning, nullptr);
        const JpegDecoder& d = jpegDecoder;

        FILE* djpeg = popen(("djpeg -dct float -nosmooth " + path).c_str(), "r");
        ASSERT_NE(djpeg, nullptr);
        const Image theirs = readNetpbm(djpeg);
        ASSERT_EQ(pclose(djpeg), 0) << "djpeg (libjpeg-turbo-progs) is needed";
        ASSERT_EQ(theirs.width, d.width);
        ASSERT_EQ(theirs.height, d.height);
        ASSERT_EQ(theirs.pixels.size(), size_t(d.width) * d.height * theirs.depth);

        int largest = 0;
        double total = 0;
        for (size_t i = 0; i < theirs.pixels.size(); ++i) {
            const size_t pixel = i / theirs.depth, channel = i % theirs.depth;
            const int diff = std::abs(d.pixels[pixel * 4 + channel] - theirs.pixels[i]);
            largest = std::max(largest, diff);
            total += diff;
        }
        const uint64_t ours = checksum(d.pixels, size_t(d.width) * d.height * 4);
        std::printf("%-28s largest difference %d, mean %.3f, checksum 0x%016llx\n", r.name, largest,
                    total / theirs.pixels.size(), static_cast<unsigned long long>(ours));
        EXPECT_LE(largest, r.tolerance);
        EXPECT_EQ(ours, r.golden);
        releaseJpegPixels();
    }
}

TEST(JpegReference, PastFuzzCrashInputsDecodeOrFailCleanly) {
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testsFile("fuzz/regressions"))) {
        SCOPED_TRACE(entry.path().string());
        ++inputs;
        if (decodeTextureFile(entry.path().c_str())) {
            EXPECT_NE(jpegDecoder.pixels, nullptr);
            releaseJpegPixels();
        } else {
            EXPECT_NE(jpegDecoder.failure, nullptr);
        }
    }
    EXPECT_GT(inputs, 0);
}

}  // namespace

// The decoder on hand-built streams: worked examples, the bit reader, the header
// rules, and damaged input that must neither crash, hang nor read out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/texture/jpeg_test_util.h"
#include "texture/jpeg_decoder.h"

namespace {

// A one-component picture with unit quantisation, the luminance DC table, the small AC
// table, `extra` segments before the frame, and `data` as its scan.
Bytes greyJpeg(int width, int height, const Bytes& data, const Bytes& extra = {}) {
    return Bytes{0xFF, 0xD8} + unitQuantTable(0) +
           segment(0xC4, luminanceDcTable(0x00) + smallAcTable(0x10)) + extra +
           frame(width, height, {{1, 0x11, 0}}) + scan({{1, 0x00}}) + data;
}

// A whole decode of `bytes`, as the bank runs it on a file.
bool decode(Bytes bytes) {
    FILE* stream = memoryStream(bytes);
    const bool ok = decodeJpegStream(stream);
    std::fclose(stream);
    return ok;
}

int redAt(int x, int y) { return jpegDecoder.pixels[(size_t(y) * jpegDecoder.width + x) * 4]; }

// Headers only; returns readHeaders' result.
int headers(Bytes bytes) {
    resetDecoder();
    jpegDecoder.file = memoryStream(bytes);
    const int result = readHeaders();
    std::fclose(jpegDecoder.file);
    return result;
}

TEST(JpegBlocks, DcOnlyBlocksTruncateThenFloorDivide) {
    // Two blocks: DC 80 (category 7, 1010000), then DC -4 (difference -84, coded 0101011).
    ASSERT_TRUE(decode(greyJpeg(16, 8, BitWriter().put("11110" "1010000" "0" "11110" "0101011" "0").finish())));
    EXPECT_EQ(jpegDecoder.warning, nullptr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(redAt(x, y), x < 8 ? 138 : 127) << x << "," << y;
            const uint8_t* p = &jpegDecoder.pixels[(y * 16 + x) * 4];
            ASSERT_TRUE(p[1] == p[0] && p[2] == p[0] && p[3] == 255);
        }
    releaseJpegPixels();
}

TEST(JpegBlocks, RestartMarkerAtEachMcuRowResetsThePrediction) {
    // One MCU per row, interval one MCU: row 0 has DC 80; row 1 a difference of 0.
    const Bytes data = BitWriter().put("11110" "1010000" "0").finish() + Bytes{0xFF, 0xD0} +
                       BitWriter().put("00" "0").finish();
    ASSERT_TRUE(decode(greyJpeg(8, 16, data, segment(0xDD, {0, 1}))));
    EXPECT_EQ(redAt(3, 7), 138);
    EXPECT_EQ(redAt(3, 8), 128);
    releaseJpegPixels();
}

TEST(JpegBlocks, AcRunPastTheLastCoefficientEndsTheBlockAndKeepsTheStreamInStep) {
    // Block 1: DC 0, three runs of 16 zeros (k = 49), eleven +1s (k = 60), then a run of
    // 15 zeros and a value that would land at 75. Block 2: DC 80.
    std::string block1 = "00" "110110110";
    for (int i = 0; i < 11; ++i) block1 += "10" "1";
    block1 += "111" "1";
    ASSERT_TRUE(decode(greyJpeg(16, 8, BitWriter().put(block1 + "11110" "1010000" "0").finish())));
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x) ASSERT_EQ(redAt(x, y), 138);
    releaseJpegPixels();
}

TEST(JpegBlocks, DcPredictionsThatWouldOverflowSaturate) {
    // 73728 blocks, each adding the largest difference (category 15, 32767): the sum
    // passes 2^31 after 65538 of them. Every sample stays white.
    const Bytes tables = segment(0xC4, huffmanTable(0x00, {1}, {0x0F}) + smallAcTable(0x10));
    BitWriter bits;
    for (int i = 0; i < 8192 * 9; ++i) bits.put("0" "111111111111111" "0");
    Bytes file = Bytes{0xFF, 0xD8} + unitQuantTable(0) + tables + frame(65535, 72, {{1, 0x11, 0}}) +
                 scan({{1, 0x00}}) + bits.finish();
    ASSERT_TRUE(decode(file));
    const size_t count = size_t(65535) * 72;
    size_t white = 0;
    for (size_t i = 0; i < count; ++i) white += jpegDecoder.pixels[i * 4] == 255;
    EXPECT_EQ(white, count);
    releaseJpegPixels();
}

TEST(JpegBlocks, DataThatEndsEarlyLeavesTheRestGreyAndSaysSo) {
    const Bytes firstBlock = BitWriter().put("11110" "1010000" "0").finish();
    const Bytes endings[] = {{}, {0xFF, 0xD9, 0x12, 0x34, 0x56}, {0xFF}, Bytes(5000, 0xFF)};
    for (const Bytes& ending : endings) {
        ASSERT_TRUE(decode(greyJpeg(16, 16, firstBlock + ending)));
        EXPECT_EQ(redAt(0, 0), 138);
        EXPECT_EQ(redAt(8, 0), 128);
        EXPECT_EQ(redAt(15, 15), 128);
        EXPECT_NE(jpegDecoder.warning, nullptr);
        releaseJpegPixels();
    }
}

TEST(JpegBitReader, StuffingFillBytesMarkersAndTheEndOfData) {
    struct Case {
        Bytes in;
        int byte;       // first 8 bits delivered
        bool reset;     // DC predictions zeroed
        bool ended;     // no data after it
    } cases[] = {
        {{0xFF, 0x00}, 0xFF, false, false},
        {{0xFF, 0xFF, 0x00}, 0xFF, false, false},
        {{0xFF, 0xD3, 0x5A}, 0x5A, true, false},
        {{0xFF, 0xD3, 0xFF, 0x00}, 0xFF, true, false},
        {{0xFF, 0xE1, 0x5A}, 0x5A, false, false},
        {{}, 0, false, true},
        {{0xFF}, 0, false, true},
        {{0xFF, 0xD9, 0x5A}, 0, false, true},
        {Bytes(100000, 0xFF), 0, false, true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.in.size());
        resetDecoder();
        jpegDecoder.file = memoryStream(c.in);
        jpegDecoder.dcPredictors[0] = 5, jpegDecoder.dcPredictors[1] = 6, jpegDecoder.dcPredictors[2] = 7;
        EXPECT_EQ(readBits(8), c.byte);
        EXPECT_EQ(jpegDecoder.dcPredictors[2] == 0, c.reset);
        EXPECT_EQ(jpegDecoder.dataEnded, c.ended);
        if (c.ended) {
            EXPECT_EQ(readBits(16), 0);
        }
        std::fclose(jpegDecoder.file);
    }
}

TEST(JpegBitReader, ExtendSignAndTheLuminanceDcTable) {
    EXPECT_EQ(extendSign(3, 3), -4);
    EXPECT_EQ(extendSign(3, 4), 4);
    EXPECT_EQ(extendSign(1, 0), -1);
    EXPECT_EQ(extendSign(1, 1), 1);
    EXPECT_EQ(extendSign(0, 0), 0);
    EXPECT_EQ(extendSign(11, 0), -2047);

    // The table arrives through a DHT segment; the end-of-image marker stops the headers.
    Bytes bytes = segment(0xC4, luminanceDcTable(0x00)) + Bytes{0xFF, 0xD9};
    EXPECT_EQ(headers(bytes), 0);
    EXPECT_STREQ(jpegDecoder.failure, "end of image before any scan");
    Bytes data = BitWriter().put("00" "111111110" "010" "1111111111111111").finish();
    jpegDecoder.file = memoryStream(data);
    const HuffmanTable& table = jpegDecoder.dcTables[0];
    EXPECT_EQ(decodeHuffman(table), 0);
    EXPECT_EQ(decodeHuffman(table), 11);
    EXPECT_EQ(decodeHuffman(table), 1);
    EXPECT_EQ(decodeHuffman(table), 0xFFFF);  // no code: the 16 bits read
    std::fclose(jpegDecoder.file);
}

TEST(JpegHeaders, TablesLandWhereTheirTableBytesSay) {
    Bytes wideTable{0x11};
    for (int i = 0; i < 64; ++i) wideTable.push_back(0x12), wideTable.push_back(uint8_t(i));
    Bytes narrowTable{0x00};
    narrowTable.resize(65, 9);
    const Bytes dht = segment(0xC4, huffmanTable(0x10, {1}, {7}) + huffmanTable(0x01, {0, 2}, {1, 2}) +
                                        huffmanTable(0x13, {0, 0, 3}, {4, 5, 6}) + luminanceDcTable(0x00));
    const Bytes file = Bytes{0xFF, 0xD8} + dht + segment(0xDB, wideTable + narrowTable) +
                       frame(8, 8, {{1, 0x11, 1}}) + scan({{1, 0x13}});
    ASSERT_EQ(headers(file), 1);
    const JpegDecoder& d = jpegDecoder;
    EXPECT_EQ(d.acTables[0].counts[0], 1);
    EXPECT_EQ(d.acTables[0].symbols[0], 7);
    EXPECT_EQ(d.dcTables[1].counts[1], 2);
    EXPECT_EQ(d.acTables[3].codes[2], 2);  // third code of length 3: 010
    EXPECT_EQ(d.dcTables[0].symbols[11], 11);
    EXPECT_EQ(d.quantTables[1][0], 0x1200);
    EXPECT_EQ(d.quantTables[1][63], 0x123F);
    EXPECT_EQ(d.quantTables[0][63], 9);
    EXPECT_EQ(d.components[0].dcTable, 1);
    EXPECT_EQ(d.components[0].acTable, 3);
}

TEST(JpegHeaders, SkippedSegmentsAndTheRefusals) {
    const Bytes soi{0xFF, 0xD8};
    const Bytes grey = frame(8, 8, {{1, 0x11, 0}});
    const Bytes colour = frame(16, 16, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
    const Bytes greyScan = scan({{1, 0x00}});
    Bytes badLength = grey;
    badLength[3] += 1;
    Bytes wideSampled = colour;
    wideSampled[11] = 0x31, wideSampled[14] = 0x21;  // luma 3 wide, chroma 2
    const Bytes app = segment(0xE0, Bytes(14, 'j')) + segment(0xFE, {'h', 'i'});
    struct Case {
        Bytes file;
        const char* failure;  // null: the scan header is reached
    } cases[] = {
        {soi + app + soi + Bytes{0xFF, 0xFF} + grey + greyScan, nullptr},
        {{0x00}, "not a JPEG file"},
        {soi + Bytes{0x00}, "no marker where one should begin"},
        {soi + Bytes{0xFF, 0xC0, 0x00, 0x11, 8, 0, 8}, "file ends inside the headers"},
        {soi + segment(0xC2, Bytes(9, 1)), "not a baseline JPEG"},
        {soi + Bytes{0xFF, 0xD9}, "end of image before any scan"},
        {soi + greyScan, "scan before the frame header"},
        {soi + badLength, "bad frame header length"},
        {soi + Bytes{0xFF, 0xE0, 0x00, 0x01}, "bad segment length"},
        {soi + segment(0xDB, Bytes(20, 1)), "file ends inside the headers"},
        {soi + grey + segment(0xDA, {1, 1}), "file ends inside the headers"},
        {soi + segment(0xC4, luminanceDcTable(0x04)), "bad Huffman table id"},
        {soi + segment(0xC4, luminanceDcTable(0x1F)), "bad Huffman table id"},
        {soi + segment(0xC4, huffmanTable(0, {0, 0, 0, 0, 0, 0, 0, 0, 255, 255}, Bytes(510, 1))),
         "bad Huffman table counts"},
        {soi + segment(0xDB, Bytes{0x05} + Bytes(64, 1)), "bad quantisation table id"},
        {soi + frame(8, 8, {{1, 0x11, 4}}), "bad quantisation table id"},
        {soi + grey + scan({{1, 0x40}}), "bad Huffman table id in scan"},
        {soi + grey + scan({{1, 0x04}}), "bad Huffman table id in scan"},
        {soi + colour + scan({{1, 0x00}}), "scan does not cover every component"},
        {soi + frame(8, 8, {}), "only 1 or 3 components are supported"},
        {soi + frame(8, 8, {{1, 0x11, 0}, {2, 0x11, 0}}), "only 1 or 3 components are supported"},
        {soi + frame(8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}}),
         "only 1 or 3 components are supported"},
        {soi + frame(8, 8, {{1, 0x01, 0}}), "bad sampling factors"},
        {soi + frame(8, 8, {{1, 0x15, 0}}), "bad sampling factors"},
        {soi + wideSampled, "chroma sampling does not divide luma sampling"},
        {soi + frame(8, 8, {{1, 0x11, 0}, {2, 0x22, 0}, {3, 0x11, 0}}),
         "chroma sampling does not divide luma sampling"},
        {soi + frame(0, 8, {{1, 0x11, 0}}), "image has no pixels"},
        {soi + frame(65535, 65535, {{1, 0x11, 0}}), "image larger than 16777216 pixels"},
        {soi + frame(4097, 4096, {{1, 0x11, 0}}), "image larger than 16777216 pixels"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.failure ? c.failure : "accepted");
        EXPECT_EQ(headers(c.file), c.failure ? 0 : 1);
        if (c.failure) {
            EXPECT_STREQ(jpegDecoder.failure, c.failure);
        }
    }

    // A refused frame keeps what was read of it; a refused decode allocates nothing.
    headers(soi + badLength);
    EXPECT_EQ(jpegDecoder.width, 8);
    EXPECT_EQ(jpegDecoder.height, 8);
    EXPECT_FALSE(decode(soi + frame(65535, 65535, {{1, 0x11, 0}}) + greyScan));
    EXPECT_EQ(jpegDecoder.pixels, nullptr);
    EXPECT_EQ(headers(soi + frame(4096, 4096, {{1, 0x11, 0}}) + greyScan), 1);
}

TEST(JpegColour, YCbCrTriplesTruncateAndClamp) {
    uint8_t pixels[] = {100, 128, 228, 0, 0, 0, 128, 0, 128, 128, 128, 0, 255, 255, 255, 0};
    resetDecoder();
    jpegDecoder.width = 4;
    jpegDecoder.height = 1;
    jpegDecoder.pixels = pixels;
    convertYCbCrToRgb();
    const uint8_t expected[] = {240, 28, 100, 255, 0, 44, 0, 255, 128, 128, 128, 255, 255, 120, 255, 255};
    EXPECT_EQ(0, std::memcmp(pixels, expected, sizeof pixels));
    jpegDecoder.pixels = nullptr;
}

}  // namespace

namespace {

// The colour conversion as written in double, truncated and clamped: what every
// conversion of the decoder must reproduce exactly.
uint8_t clampedChannel(double v) {
    const int i = static_cast<int>(v);
    return static_cast<uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}

TEST(JpegColour, EveryYCbCrTripleConvertsExactlyAsInDouble) {
    std::vector<uint8_t> pixels(256 * 256 * 4);
    resetDecoder();
    jpegDecoder.width = 256;
    jpegDecoder.height = 256;
    for (int y = 0; y < 256; ++y) {
        for (int i = 0; i < 256 * 256; ++i) {
            pixels[i * 4] = uint8_t(y), pixels[i * 4 + 1] = uint8_t(i >> 8), pixels[i * 4 + 2] = uint8_t(i);
            pixels[i * 4 + 3] = 0;
        }
        jpegDecoder.pixels = pixels.data();
        convertYCbCrToRgb();
        for (int i = 0; i < 256 * 256; ++i) {
            const double cb = (i >> 8) - 128.0, cr = (i & 255) - 128.0;
            const uint8_t expected[4] = {clampedChannel(y + double(1.402f) * cr),
                                         clampedChannel(y - double(0.34414f) * cb - double(0.71414f) * cr),
                                         clampedChannel(y + double(1.772f) * cb), 255};
            ASSERT_EQ(0, std::memcmp(&pixels[i * 4], expected, 4)) << y << " " << (i >> 8) << " " << (i & 255);
        }
    }
    jpegDecoder.pixels = nullptr;
}

}  // namespace

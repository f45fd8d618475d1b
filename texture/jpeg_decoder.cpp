// The baseline JPEG decoder: byte source, marker segments, Huffman tables, bit reader,
// block decoding, AAN inverse DCT and colour conversion. Owns `jpegDecoder` and the
// two block work arrays.
#include "texture/jpeg_decoder.h"

#include <cstdlib>
#include <cstring>

JpegDecoder jpegDecoder;

namespace {

JpegDecoder& d = jpegDecoder;

float coefficients[64];  // one block, zigzag order, [0] is DC
float block[64];         // one block, natural order (row-major), then samples x 8

// For natural position row * 8 + column, the position in the zigzag sequence.
const int32_t zigzagIndex[64] = {
    0,  1,  5,  6,  14, 15, 27, 28,
    2,  4,  7,  13, 16, 26, 29, 42,
    3,  8,  12, 17, 25, 30, 41, 43,
    9,  11, 18, 24, 31, 40, 44, 53,
    10, 19, 23, 32, 39, 45, 52, 54,
    20, 22, 33, 38, 46, 51, 55, 60,
    21, 34, 37, 47, 50, 56, 59, 61,
    35, 36, 48, 49, 57, 58, 62, 63,
};

// cos(k * pi / 16) * sqrt(2), k = 1..7, and 1 for k = 0: the AAN scale factors folded
// into dequantisation.
const float aanScale[8] = {1.0f, 1.3870399f, 1.306563f, 1.1758755f,
                           1.0f, 0.78569496f, 0.5411961f, 0.27589938f};

// Records why the headers were refused and returns 0, readHeaders' failure result.
int fail(const char* reason) {
    d.failure = reason;
    return 0;
}

// SOF0 segment of `length` bytes. Returns 0 on a frame this decoder cannot take.
int readFrameHeader(int length) {
    d.precision = readByte();
    d.height = readWord();
    d.width = readWord();
    d.componentCount = readByte();
    if (d.endOfFile) return fail("file ends inside the headers");
    if (length - 8 != 3 * d.componentCount) return fail("bad frame header length");
    if (d.componentCount != 1 && d.componentCount != 3)
        return fail("only 1 or 3 components are supported");
    for (int i = 0; i < d.componentCount; ++i) {
        JpegComponent& c = d.components[i];
        c.id = readByte();
        const int sampling = readByte();
        c.hSampling = sampling >> 4;
        c.vSampling = sampling & 0x0F;
        c.quantTable = readByte();
        if (d.endOfFile) return fail("file ends inside the headers");
        if (c.hSampling < 1 || c.hSampling > 4 || c.vSampling < 1 || c.vSampling > 4)
            return fail("bad sampling factors");
        if (c.quantTable > 3) return fail("bad quantisation table id");
    }
    if (d.componentCount == 1) {
        // A one-component scan is never interleaved: its MCU is one block, whatever
        // sampling factors the frame gives.
        d.components[0].hSampling = d.components[0].vSampling = 1;
    } else {
        for (int c = 1; c < 3; ++c)
            if (d.components[0].hSampling % d.components[c].hSampling != 0 ||
                d.components[0].vSampling % d.components[c].vSampling != 0)
                return fail("chroma sampling does not divide luma sampling");
    }
    if (d.width == 0 || d.height == 0) return fail("image has no pixels");
    if (int64_t(d.width) * d.height > JPEG_MAX_PIXELS)
        return fail("image larger than 16777216 pixels");
    d.frameSeen = true;
    return 1;
}

// DHT segment with `remaining` bytes after its length field.
int readHuffmanTables(int remaining) {
    while (remaining > 0 && !d.endOfFile) {
        const int c = readByte();
        if ((c & 0x0F) > 3) return fail("bad Huffman table id");
        HuffmanTable& t = (c & 0x10) ? d.acTables[c & 0x0F] : d.dcTables[c & 0x0F];
        int total = 0;
        for (int n = 0; n < 16; ++n) {
            t.counts[n] = static_cast<uint8_t>(readByte());
            total += t.counts[n];
        }
        if (total > 256) {
            std::memset(t.counts, 0, sizeof t.counts);  // leave no table that claims more
            return fail("bad Huffman table counts");
        }
        remaining -= 17;
        for (int k = 0; k < total; ++k) t.symbols[k] = static_cast<uint8_t>(readByte());
        remaining -= total;
        // Canonical codes: consecutive within a length, doubled between lengths.
        int code = 0, k = 0;
        for (int n = 1; n <= 16; ++n) {
            for (int i = 0; i < t.counts[n - 1]; ++i, ++k, ++code) {
                t.lengths[k] = static_cast<uint8_t>(n);
                t.codes[k] = static_cast<uint16_t>(code);
            }
            code *= 2;
        }
    }
    return 1;
}

// DQT segment with `remaining` bytes after its length field.
int readQuantTables(int remaining) {
    while (remaining > 0 && !d.endOfFile) {
        const int c = readByte();
        if ((c & 0x0F) > 3) return fail("bad quantisation table id");
        const bool wide = (c >> 4) != 0;  // 16-bit entries
        int32_t* table = d.quantTables[c & 0x0F];
        for (int i = 0; i < 64; ++i) table[i] = wide ? readWord() : readByte();
        remaining -= wide ? 129 : 65;
    }
    return 1;
}

// SOS segment. Returns 1 when the scan can be decoded.
int readScanHeader() {
    if (!d.frameSeen) return fail("scan before the frame header");
    const int n = readByte();
    if (n != d.componentCount) return fail("scan does not cover every component");
    for (int i = 0; i < n; ++i) {
        const int selector = readByte();
        const int tables = readByte();
        if ((tables >> 4) > 3 || (tables & 0x0F) > 3) return fail("bad Huffman table id in scan");
        for (int c = 0; c < d.componentCount; ++c) {
            if (d.components[c].id != selector) continue;
            d.components[c].dcTable = tables >> 4;
            d.components[c].acTable = tables & 0x0F;
        }
    }
    d.spectralStart = readByte();
    d.spectralEnd = readByte();
    const int approx = readByte();
    d.approxHigh = approx >> 4;
    d.approxLow = approx & 0x0F;
    if (d.endOfFile) return fail("file ends inside the headers");
    return 1;
}

int symbolCount(const HuffmanTable& t) {
    int total = 0;
    for (int n = 0; n < 16; ++n) total += t.counts[n];
    return total;
}

// DC predictions stay within this range (an 8-bit picture's DC never exceeds 2048),
// so that a damaged stream cannot overflow them.
constexpr int32_t DC_LIMIT = 1 << 20;

// Reads one block of component c into `coefficients` (zigzag order).
void readCoefficients(int c) {
    const JpegComponent& comp = d.components[c];
    const int s = decodeHuffman(d.dcTables[comp.dcTable]) & 0x0F;
    const int diff = extendSign(s, readBits(s));
    int32_t dc = diff + d.dcPredictors[c];
    dc = dc < -DC_LIMIT ? -DC_LIMIT : dc > DC_LIMIT ? DC_LIMIT : dc;
    coefficients[0] = static_cast<float>(dc);
    d.dcPredictors[c] = static_cast<int32_t>(coefficients[0]);

    int k = 1;
    while (k < 64) {
        const int sym = decodeHuffman(d.acTables[comp.acTable]);
        if (sym == 0) {
            for (; k < 64; ++k) coefficients[k] = 0.0f;
            break;
        }
        const int run = (sym >> 4) & 0x0F;
        const int size = sym & 0x0F;
        if (k + run > 63) {
            // A run past the last coefficient: the zeros end the block, the value
            // that would follow is read and dropped.
            for (; k < 64; ++k) coefficients[k] = 0.0f;
            readBits(size);
            break;
        }
        for (int i = 0; i < run; ++i) coefficients[k++] = 0.0f;
        coefficients[k++] = static_cast<float>(extendSign(size, readBits(size)));
    }
}

// Decodes one block of component c into `block` (natural order, dequantised). A block
// that the data does not reach to its end comes out all zero, that is mid-grey.
void decodeBlock(int c) {
    if (!d.dataEnded) readCoefficients(c);
    if (d.dataEnded) std::memset(coefficients, 0, sizeof coefficients);

    // Dequantise with the AAN prescale folded in: products in double, one rounding.
    const int32_t* quant = d.quantTables[d.components[c].quantTable];
    for (int r = 0; r < 8; ++r)
        for (int u = 0; u < 8; ++u) {
            const int n = r * 8 + u, z = zigzagIndex[n];
            block[n] = static_cast<float>(static_cast<double>(quant[z]) * coefficients[z] *
                                          aanScale[u] * aanScale[r]);
        }
}

}  // namespace

void resetDecoder() { std::memset(&d, 0, sizeof d); }

namespace {
// One byte of the stream, or 0 with endOfFile set once the stream has run out.
int nextByte() {
    const int c = getc_unlocked(d.file);  // one thread reads the stream
    if (c != EOF) return c;
    d.endOfFile = true;
    return 0;
}
}  // namespace

int readByte() {
    d.currentByte = static_cast<uint8_t>(nextByte());
    d.bitPosition = 0;
    return d.currentByte;
}

int readWord() {
    const int high = nextByte();
    return (high << 8) | nextByte();
}

int readHeaders() {
    for (bool first = true;; first = false) {
        if (readByte() != 0xFF) {
            if (d.endOfFile) return fail("file ends inside the headers");
            return fail(first ? "not a JPEG file" : "no marker where one should begin");
        }
        int m;
        do m = readByte(); while (m == 0xFF && !d.endOfFile);  // fill bytes before a marker
        if (d.endOfFile) return fail("file ends inside the headers");
        if (m == 0xD8) continue;  // start of image, no length field
        if (m == 0xD9) return fail("end of image before any scan");
        const int length = readWord();
        if (d.endOfFile) return fail("file ends inside the headers");
        if (length < 2) return fail("bad segment length");
        const int remaining = length - 2;
        switch (m) {
            case 0xC0:
                if (!readFrameHeader(length)) return 0;
                break;
            case 0xC4:
                if (!readHuffmanTables(remaining)) return 0;
                break;
            case 0xDB:
                if (!readQuantTables(remaining)) return 0;
                break;
            case 0xDD: d.restartInterval = readWord(); break;
            case 0xDA: return readScanHeader();
            case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
            case 0xC8: case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
                return fail("not a baseline JPEG");
            default: std::fseek(d.file, remaining, SEEK_CUR); break;
        }
    }
}

namespace {
// Loads the next byte of entropy-coded data into currentByte: a stuffed 0xFF 0x00
// gives 0xFF, fill bytes 0xFF are skipped, restart markers reset the DC predictions,
// other markers are dropped. At the end of the data (end of file or an end-of-image
// marker) it sets dataEnded and loads zeros from then on.
void fetchDataByte() {
    while (!d.dataEnded) {
        int b = readByte();
        if (d.endOfFile) break;
        if (b != 0xFF) return;
        do b = readByte(); while (b == 0xFF && !d.endOfFile);
        if (d.endOfFile || b == 0xD9) break;
        if (b == 0x00) {
            d.currentByte = 0xFF;
            return;
        }
        if (b >= 0xD0 && b <= 0xD7) d.dcPredictors[0] = d.dcPredictors[1] = d.dcPredictors[2] = 0;
    }
    d.dataEnded = true;
    d.currentByte = 0;
    d.bitPosition = 0;
}
}  // namespace

int readBit() {
    if (d.bitPosition == 0) fetchDataByte();
    const int bit = (d.currentByte >> (7 - d.bitPosition)) & 1;
    d.bitPosition = (d.bitPosition + 1) & 7;
    return bit;
}

int readBits(int n) {
    int result = 0;
    for (int i = 0; i < n; ++i) result = result * 2 + readBit();
    return result;
}

int extendSign(int n, int v) {
    if (n == 0) return 0;
    if (v & (1 << (n - 1))) return v;
    return -(v ^ ((1 << n) - 1));
}

int decodeHuffman(const HuffmanTable& table) {
    const int total = symbolCount(table);
    int code = 0, k = 0;
    for (int len = 1; len <= 16; ++len) {
        code = code * 2 + readBit();
        for (; k < total && table.lengths[k] <= len; ++k)
            if (table.codes[k] == code) return table.symbols[k];
    }
    return code;
}

namespace {
// Writes the samples of `block` (eight times the values, level-shifted here) into byte c
// of the pixels it covers: the block's top-left sample lands at (left, top), and each
// sample fills hRepeat x vRepeat pixels. Pixels outside the image are skipped.
void writeBlock(int c, int left, int top, int hRepeat, int vRepeat) {
    for (int r = 0; r < 8; ++r)
        for (int u = 0; u < 8; ++u) {
            // Beyond +-65536 every value clamps to 0 or 255 anyway; limiting first keeps
            // the conversion to int defined for damaged streams.
            const float sum = block[r * 8 + u];
            const float x = sum < -65536.0f ? -65536.0f : sum > 65536.0f ? 65536.0f : sum;
            int v = static_cast<int>(x);  // truncation toward zero
            v = (v >> 3) + 128;           // arithmetic shift: floor(v / 8)
            const uint8_t sample = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            for (int j = 0; j < vRepeat; ++j) {
                const int y = top + r * vRepeat + j;
                if (y >= d.height) break;
                for (int i = 0; i < hRepeat; ++i) {
                    const int x = left + u * hRepeat + i;
                    if (x >= d.width) break;
                    d.pixels[(static_cast<size_t>(y) * d.width + x) * 4 + c] = sample;
                }
            }
        }
}
}  // namespace

void decodeScan() {
    // Pixels per sample of each component: component 0 carries the largest factors.
    int hRepeat[3] = {1, 1, 1}, vRepeat[3] = {1, 1, 1};
    if (d.componentCount == 3)
        for (int c = 1; c < 3; ++c) {
            hRepeat[c] = d.components[0].hSampling / d.components[c].hSampling;
            vRepeat[c] = d.components[0].vSampling / d.components[c].vSampling;
        }
    d.dcPredictors[0] = d.dcPredictors[1] = d.dcPredictors[2] = 0;

    const int mcuWidth = d.components[0].hSampling * 8;    // pixels
    const int mcuHeight = d.components[0].vSampling * 8;   // pixels
    int64_t mcuIndex = 0;
    for (int y0 = 0; y0 < d.height; y0 += mcuHeight)
        for (int x0 = 0; x0 < d.width; x0 += mcuWidth, ++mcuIndex) {
            // Each restart interval starts on a byte boundary: dropping the rest of the
            // current byte makes the next fetch meet the restart marker, which resets
            // the DC predictions.
            if (d.restartInterval > 0 && mcuIndex % d.restartInterval == 0) d.bitPosition = 0;
            for (int c = 0; c < d.componentCount; ++c)
                for (int by = 0; by < d.components[c].vSampling; ++by)
                    for (int bx = 0; bx < d.components[c].hSampling; ++bx) {
                        decodeBlock(c);
                        inverseDct(block);
                        writeBlock(c, x0 + bx * 8 * hRepeat[c], y0 + by * 8 * vRepeat[c],
                                   hRepeat[c], vRepeat[c]);
                    }
        }
}

void inverseDct(float* b) {
    // Columns first (stride 8), then rows (stride 1), the same eight-point pass.
    for (int pass = 0; pass < 2; ++pass)
        for (int line = 0; line < 8; ++line) {
            const int step = pass == 0 ? 8 : 1;
            float* p = pass == 0 ? b + line : b + line * 8;
            const float i0 = p[0], i1 = p[step], i2 = p[2 * step], i3 = p[3 * step];
            const float i4 = p[4 * step], i5 = p[5 * step], i6 = p[6 * step], i7 = p[7 * step];

            const float t10 = i0 + i4, t11 = i0 - i4;
            const float t13 = i2 + i6;
            const float t12 = (i2 - i6) * 1.4142135f - t13;
            const float e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;

            const float z13 = i5 + i3, z10 = i5 - i3, z11 = i1 + i7, z12 = i1 - i7;
            const float o7 = z11 + z13;
            const float a = (z11 - z13) * 1.4142135f;
            const float z5 = (z10 + z12) * 1.847759f;
            const float oddB = z12 * 1.0823922f - z5;
            const float oddD = z5 - z10 * 2.613126f;
            const float o6 = oddD - o7, o5 = a - o6, o4 = oddB + o5;

            p[0] = e0 + o7;
            p[7 * step] = e0 - o7;
            p[step] = e1 + o6;
            p[6 * step] = e1 - o6;
            p[2 * step] = e2 + o5;
            p[5 * step] = e2 - o5;
            p[4 * step] = e3 + o4;
            p[3 * step] = e3 - o4;
        }
}

void convertYCbCrToRgb() {
    const size_t count = static_cast<size_t>(d.width) * d.height;
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = d.pixels + i * 4;
        const double y = p[0], cb = p[1] - 128.0, cr = p[2] - 128.0;
        int rgb[3] = {static_cast<int>(y + double(1.402f) * cr),
                      static_cast<int>(y - double(0.34414f) * cb - double(0.71414f) * cr),
                      static_cast<int>(y + double(1.772f) * cb)};
        for (int k = 0; k < 3; ++k)
            p[k] = static_cast<uint8_t>(rgb[k] < 0 ? 0 : rgb[k] > 255 ? 255 : rgb[k]);
        p[3] = 255;
    }
}

void expandGrey() {
    const size_t count = static_cast<size_t>(d.width) * d.height;
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = d.pixels + i * 4;
        p[1] = p[2] = p[0];
        p[3] = 255;
    }
}

bool decodeJpegStream(FILE* stream) {
    resetDecoder();
    d.file = stream;
    if (!readHeaders()) return false;
    // readHeaders has bounded the size by JPEG_MAX_PIXELS.
    d.pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(d.width) * d.height * 4));
    if (!d.pixels) {
        d.failure = "out of memory for the pixels";
        return false;
    }
    decodeScan();
    if (d.componentCount == 1) expandGrey();
    if (d.componentCount == 3) convertYCbCrToRgb();
    if (d.dataEnded) d.warning = "image data ends early; the rest of the picture is grey";
    return true;
}

void releaseJpegPixels() {
    std::free(d.pixels);
    d.pixels = nullptr;
}

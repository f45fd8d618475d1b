// The baseline JPEG decoder: byte source, marker segments, Huffman tables, bit reader,
// block decoding, AAN inverse DCT and colour conversion. Owns `jpegDecoder` and each
// thread's buffer for the scan data.
#include "texture/jpeg_decoder.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

thread_local JpegDecoder jpegDecoder;

namespace {

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
    JpegDecoder& d = jpegDecoder;
    d.failure = reason;
    return 0;
}

// SOF0 segment of `length` bytes. Returns 0 on a frame this decoder cannot take.
int readFrameHeader(int length) {
    JpegDecoder& d = jpegDecoder;
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
    JpegDecoder& d = jpegDecoder;
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
    JpegDecoder& d = jpegDecoder;
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
    JpegDecoder& d = jpegDecoder;
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

// Zero bytes after the scan data: more than one block can read (64 codes of at most 16
// bits, each with at most 15 value bits, is under 256 bytes), plus a word for the reader.
constexpr size_t SCAN_PADDING = 512;

// Per zigzag index: its natural position, and the two AAN scale factors of its column
// and row as doubles (exact copies of the floats).
struct BlockOrder {
    int32_t natural[64];
    double columnScale[64];
    double rowScale[64];
    BlockOrder() {
        for (int n = 0; n < 64; ++n) {
            const int z = zigzagIndex[n];
            natural[z] = n;
            columnScale[z] = aanScale[n % 8];
            rowScale[z] = aanScale[n / 8];
        }
    }
};
const BlockOrder blockOrder;

// The scan's entropy-coded data, read whole: stuffed bytes, fill bytes and markers taken
// out, followed by SCAN_PADDING zero bytes. One per thread, kept for the next decode.
struct ScanData {
    std::vector<uint8_t> bytes;    // the data bytes, then the padding
    std::vector<uint32_t> resets;  // for each restart marker, the data byte it came before
    size_t size = 0;               // data bytes, up to where the data ends
};
thread_local ScanData scanData;

// Reads the rest of the stream into scanData with the rules of fetchDataByte. False when
// memory runs out.
bool loadScanData(FILE* file) {
    ScanData& s = scanData;
    s.resets.clear();
    s.size = 0;
    try {
        size_t raw = 0;
        if (s.bytes.size() < (1u << 16)) s.bytes.resize(1u << 16);
        for (;;) {
            if (s.bytes.size() - raw < (1u << 15)) s.bytes.resize(s.bytes.size() * 2);
            const size_t got = std::fread(&s.bytes[raw], 1, s.bytes.size() - raw, file);
            raw += got;
            if (got == 0) break;
        }
        if (s.bytes.size() < raw + SCAN_PADDING) s.bytes.resize(raw + SCAN_PADDING);

        // Compacted in place: the data never runs ahead of the raw bytes.
        uint8_t* b = s.bytes.data();
        size_t in = 0, out = 0;
        while (in < raw) {
            const uint8_t v = b[in++];
            if (v != 0xFF) {
                b[out++] = v;
                continue;
            }
            uint8_t m = 0xFF;
            while (m == 0xFF && in < raw) m = b[in++];
            if (m == 0xFF || m == 0xD9) break;  // end of file or end of image
            if (m == 0x00)
                b[out++] = 0xFF;
            else if (m >= 0xD0 && m <= 0xD7)
                s.resets.push_back(static_cast<uint32_t>(out));
        }
        s.size = out;
        std::memset(b + out, 0, SCAN_PADDING);
    } catch (const std::bad_alloc&) {
        s.bytes = std::vector<uint8_t>();
        s.resets = std::vector<uint32_t>();
        return false;
    }
    return true;
}

// The bit reader over scanData: `position` bits consumed so far; past the data it
// delivers zeros.
struct BitReader {
    const uint8_t* bytes;
    uint64_t position;

    // The next 32 bits, first bit most significant, without consuming them.
    uint32_t peek() const {
        uint64_t word;
        std::memcpy(&word, bytes + (position >> 3), 8);
        word = __builtin_bswap64(word);
        return static_cast<uint32_t>((word << (position & 7)) >> 32);
    }
    // The next n bits (0..16) as a value.
    int take(int n) {
        if (n == 0) return 0;
        const int v = static_cast<int>(peek() >> (32 - n));
        position += n;
        return v;
    }
};

// A Huffman table for the scan: the first FAST_BITS bits of a code look up its length
// and symbol at once; longer codes are searched as decodeHuffman searches them.
constexpr int FAST_BITS = 9;
struct FastHuffman {
    uint16_t fast[1 << FAST_BITS];  // (length << 8) | symbol; 0: no code of 1..FAST_BITS bits
    uint16_t first[18];             // first[n]: index of the first code of length n
    const HuffmanTable* table;

    void build(const HuffmanTable& t) {
        table = &t;
        std::memset(fast, 0, sizeof fast);
        first[1] = 0;
        for (int n = 1; n <= 16; ++n) first[n + 1] = static_cast<uint16_t>(first[n] + t.counts[n - 1]);
        // Shorter codes first, and within a length the first matching code, as
        // decodeHuffman reads them; a code too large for its length never matches.
        for (int n = 1; n <= FAST_BITS; ++n)
            for (int k = first[n]; k < first[n + 1]; ++k) {
                const unsigned code = t.codes[k];
                if (code >> n) continue;
                const unsigned low = code << (FAST_BITS - n), high = (code + 1) << (FAST_BITS - n);
                for (unsigned e = low; e < high; ++e)
                    if (!fast[e]) fast[e] = static_cast<uint16_t>((n << 8) | t.symbols[k]);
            }
    }

    // Same result and bits consumed as decodeHuffman.
    int decode(BitReader& reader) const {
        const uint32_t bits = reader.peek();
        const unsigned entry = fast[bits >> (32 - FAST_BITS)];
        if (entry) {
            reader.position += entry >> 8;
            return static_cast<int>(entry & 0xFF);
        }
        for (int n = FAST_BITS + 1; n <= 16; ++n) {
            const unsigned code = bits >> (32 - n);
            for (int k = first[n]; k < first[n + 1]; ++k)
                if (table->codes[k] == code) {
                    reader.position += n;
                    return table->symbols[k];
                }
        }
        reader.position += 16;
        return static_cast<int>(bits >> 16);
    }
};

// The scan's decoding state that the blocks share.
struct ScanState {
    BitReader reader;
    uint64_t endBit;         // bits of data; reading beyond them ends the data
    const uint32_t* resets;  // restart markers not yet passed
    const uint32_t* resetsEnd;
    FastHuffman dc[3], ac[3];  // by component position
};

// Restart markers whose following data byte has started to be read reset the DC
// predictions, at the same point in the bits as fetchDataByte meets them.
void passResets(ScanState& s, int32_t* predictors) {
    while (s.resets != s.resetsEnd && uint64_t(*s.resets) * 8 < s.reader.position) {
        predictors[0] = predictors[1] = predictors[2] = 0;
        ++s.resets;
    }
}

// Reads one block of component c and writes its dequantised coefficients (AAN prescale
// folded in, products in double, one rounding) into `block`, which must be all zero, in
// natural order. Returns false when only the DC coefficient can be non-zero.
bool readBlock(JpegDecoder& d, ScanState& s, int c, float* block) {
    const int32_t* quant = d.quantTables[d.components[c].quantTable];
    const BlockOrder& order = blockOrder;
    BitReader& reader = s.reader;

    const int size0 = s.dc[c].decode(reader) & 0x0F;
    const int diff = extendSign(size0, reader.take(size0));
    passResets(s, d.dcPredictors);
    int32_t dc = diff + d.dcPredictors[c];
    dc = dc < -DC_LIMIT ? -DC_LIMIT : dc > DC_LIMIT ? DC_LIMIT : dc;
    d.dcPredictors[c] = dc;
    if (dc != 0)
        block[0] = static_cast<float>(static_cast<double>(quant[0]) * static_cast<float>(dc) *
                                      order.columnScale[0] * order.rowScale[0]);

    bool acSeen = false;
    const FastHuffman& ac = s.ac[c];
    for (int k = 1; k < 64;) {
        const int sym = ac.decode(reader);
        if (sym == 0) break;
        const int run = (sym >> 4) & 0x0F;
        const int size = sym & 0x0F;
        if (k + run > 63) {
            // A run past the last coefficient: the zeros end the block, the value that
            // would follow is read and dropped.
            reader.take(size);
            break;
        }
        k += run;
        const int value = extendSign(size, reader.take(size));
        if (value != 0) {
            block[order.natural[k]] =
                static_cast<float>(static_cast<double>(quant[k]) * static_cast<float>(value) *
                                   order.columnScale[k] * order.rowScale[k]);
            acSeen = true;
        }
        ++k;
    }
    passResets(s, d.dcPredictors);
    return acSeen;
}
}  // namespace

void resetDecoder() { std::memset(&jpegDecoder, 0, sizeof jpegDecoder); }

namespace {
// One byte of the stream, or 0 with endOfFile set once the stream has run out.
int nextByte() {
    JpegDecoder& d = jpegDecoder;
    const int c = getc_unlocked(d.file);  // one thread reads the stream
    if (c != EOF) return c;
    d.endOfFile = true;
    return 0;
}
}  // namespace

int readByte() {
    JpegDecoder& d = jpegDecoder;
    d.currentByte = static_cast<uint8_t>(nextByte());
    d.bitPosition = 0;
    return d.currentByte;
}

int readWord() {
    const int high = nextByte();
    return (high << 8) | nextByte();
}

int readHeaders() {
    JpegDecoder& d = jpegDecoder;
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
    JpegDecoder& d = jpegDecoder;
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
    JpegDecoder& d = jpegDecoder;
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

// The eight-point AAN pass on v[0..7] in place, for one line (T = float) or for four
// lines side by side (T = a vector of four floats): every lane does the same float
// operations in the same order.
template <typename T>
inline void idctPass(T v[8], T k1414, T k1847, T k1082, T k2613) {
    const T i0 = v[0], i1 = v[1], i2 = v[2], i3 = v[3], i4 = v[4], i5 = v[5], i6 = v[6], i7 = v[7];

    const T t10 = i0 + i4, t11 = i0 - i4;
    const T t13 = i2 + i6;
    const T t12 = (i2 - i6) * k1414 - t13;
    const T e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;

    const T z13 = i5 + i3, z10 = i5 - i3, z11 = i1 + i7, z12 = i1 - i7;
    const T o7 = z11 + z13;
    const T a = (z11 - z13) * k1414;
    const T z5 = (z10 + z12) * k1847;
    const T oddB = z12 * k1082 - z5;
    const T oddD = z5 - z10 * k2613;
    const T o6 = oddD - o7, o5 = a - o6, o4 = oddB + o5;

    v[0] = e0 + o7;
    v[7] = e0 - o7;
    v[1] = e1 + o6;
    v[6] = e1 - o6;
    v[2] = e2 + o5;
    v[5] = e2 - o5;
    v[4] = e3 + o4;
    v[3] = e3 - o4;
}

// One sample from eight times its value: limited to +-65536 (beyond it every value
// clamps to 0 or 255 anyway, and the conversion to int stays defined), truncated toward
// zero, floor-divided by 8 (arithmetic shift), level-shifted and clamped to 0..255.
inline uint8_t sampleOf(float sum) {
    const float x = sum < -65536.0f ? -65536.0f : sum > 65536.0f ? 65536.0f : sum;
    int v = static_cast<int>(x);
    v = (v >> 3) + 128;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The inverse DCT of `block` (natural order, all 64 values, 16-byte aligned) into 8 x 8
// samples, row r at samples + r * stride. Leaves the block all zero for the next one.
void blockSamples(float* block, uint8_t* samples, int stride) {
#if defined(__SSE2__)
    const __m128 k1414 = _mm_set1_ps(1.4142135f), k1847 = _mm_set1_ps(1.847759f);
    const __m128 k1082 = _mm_set1_ps(1.0823922f), k2613 = _mm_set1_ps(2.613126f);
    // Columns: four at a time, each vector one row of four columns.
    __m128 rows[2][8];  // [half][row]: columns 4 * half .. 4 * half + 3
    for (int h = 0; h < 2; ++h) {
        for (int r = 0; r < 8; ++r) {
            rows[h][r] = _mm_load_ps(block + r * 8 + h * 4);
            _mm_store_ps(block + r * 8 + h * 4, _mm_setzero_ps());
        }
        idctPass(rows[h], k1414, k1847, k1082, k2613);
    }
    // Rows: transposed, so that each vector holds one column of four rows.
    for (int h = 0; h < 2; ++h) {  // rows 4 * h .. 4 * h + 3
        __m128 cols[8];
        for (int q = 0; q < 2; ++q) {  // columns 4 * q .. 4 * q + 3
            __m128 a = rows[q][4 * h], b = rows[q][4 * h + 1], c = rows[q][4 * h + 2], e = rows[q][4 * h + 3];
            _MM_TRANSPOSE4_PS(a, b, c, e);
            cols[4 * q] = a, cols[4 * q + 1] = b, cols[4 * q + 2] = c, cols[4 * q + 3] = e;
        }
        idctPass(cols, k1414, k1847, k1082, k2613);
        for (int q = 0; q < 2; ++q) {
            _MM_TRANSPOSE4_PS(cols[4 * q], cols[4 * q + 1], cols[4 * q + 2], cols[4 * q + 3]);
        }
        // cols[4 * q + i] now holds row 4 * h + i, columns 4 * q .. 4 * q + 3.
        const __m128 low = _mm_set1_ps(-65536.0f), high = _mm_set1_ps(65536.0f);
        const __m128i shift = _mm_set1_epi32(128);
        for (int i = 0; i < 4; ++i) {
            __m128i left = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(cols[i], low), high));
            __m128i right = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(cols[4 + i], low), high));
            left = _mm_add_epi32(_mm_srai_epi32(left, 3), shift);
            right = _mm_add_epi32(_mm_srai_epi32(right, 3), shift);
            // Saturating packs: to 16 bits (the values fit), then to 0..255.
            const __m128i words = _mm_packs_epi32(left, right);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(samples + (4 * h + i) * stride),
                             _mm_packus_epi16(words, words));
        }
    }
#else
    inverseDct(block);
    for (int n = 0; n < 64; ++n) samples[(n / 8) * stride + n % 8] = sampleOf(block[n]);
    std::memset(block, 0, 64 * sizeof(float));
#endif
}

}  // namespace

namespace {
// The colour conversion as integer tables. With Y, Cb and Cr whole numbers and the
// factors floats, every product and sum of the conversion in double is exact, so the
// truncated result is the floor of the exact value, clamped: Y plus the floor of the
// chroma term for red and blue, and for green the floor of its two terms together,
// kept as whole multiples of 2^-25 (0.34414f is a multiple of 2^-25, 0.71414f of 2^-24).
struct ColourTables {
    int32_t red[256];      // floor(1.402f * (Cr - 128))
    int32_t blue[256];     // floor(1.772f * (Cb - 128))
    int64_t greenCb[256];  // -0.34414f * (Cb - 128) * 2^25
    int64_t greenCr[256];  // -0.71414f * (Cr - 128) * 2^25
    uint8_t clamp[1024];   // value v + 512, clamped to 0..255

    ColourTables() {
        for (int i = 0; i < 256; ++i) {
            const double chroma = i - 128.0;
            red[i] = static_cast<int32_t>(std::floor(double(1.402f) * chroma));
            blue[i] = static_cast<int32_t>(std::floor(double(1.772f) * chroma));
            greenCb[i] = static_cast<int64_t>(-(double(0.34414f) * chroma) * 33554432.0);
            greenCr[i] = static_cast<int64_t>(-(double(0.71414f) * chroma) * 33554432.0);
        }
        for (int v = 0; v < 1024; ++v) clamp[v] = static_cast<uint8_t>(v < 512 ? 0 : v > 767 ? 255 : v - 512);
    }
};
const ColourTables colourTables;

// Writes R, G, B, 255 (each 0..255) to out[0..3] in one store.
inline void storePixel(uint8_t* out, uint32_t r, uint32_t g, uint32_t b) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint32_t pixel = r | g << 8 | b << 16 | 0xFF000000u;
#else
    const uint32_t pixel = r << 24 | g << 16 | b << 8 | 0xFFu;
#endif
    std::memcpy(out, &pixel, 4);
}

// One pixel from Y, Cb, Cr to R, G, B, 255: the same bytes as
// int(y + 1.402f * cr), int(y - 0.34414f * cb - 0.71414f * cr), int(y + 1.772f * cb)
// in double with cb, cr less 128, clamped to 0..255.
inline void rgbaOf(int y, int cb, int cr, uint8_t* out) {
    const ColourTables& t = colourTables;
    y += 512;
    const uint32_t r = t.clamp[y + t.red[cr]];
    const uint32_t g = t.clamp[y + static_cast<int>((t.greenCb[cb] + t.greenCr[cr]) >> 25)];
    const uint32_t b = t.clamp[y + t.blue[cb]];
    storePixel(out, r, g, b);
}

// The samples of one MCU, a plane per component at that component's resolution.
struct McuPlanes {
    alignas(16) uint8_t samples[3][32 * 32];
    int width[3];  // samples per row: 8 x the component's horizontal sampling
};

#if defined(__SSE2__)
// Eight pixels from eight sums each of red, green and blue (16-bit lanes, clamped to
// 0..255 by the saturating pack) to RGBA at `out`.
inline void storeEight(uint8_t* out, __m128i red, __m128i green, __m128i blue) {
    const __m128i r = _mm_packus_epi16(red, red), g = _mm_packus_epi16(green, green);
    const __m128i b = _mm_packus_epi16(blue, blue);
    const __m128i rg = _mm_unpacklo_epi8(r, g), ba = _mm_unpacklo_epi8(b, _mm_set1_epi8(-1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(rg, ba));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(rg, ba));
}

// The MCU's whole rows of pixels eight at a time, for chroma at full or half width with
// both chroma components sampled alike: the chroma terms of rgbaOf once per chroma
// sample, then Y plus each term in 16-bit lanes (exact: -227..481).
void writeMcuRows(JpegDecoder& d, const McuPlanes& m, int left, int top, int rows, const int* hRepeat,
                  const int* vRepeat) {
    const ColourTables& t = colourTables;
    const int chromaWidth = m.width[1], chromaRows = (rows + vRepeat[1] - 1) / vRepeat[1];
    alignas(16) int16_t terms[3][32 * 32];  // red, green, blue term per chroma sample
    for (int i = 0; i < chromaRows * chromaWidth; ++i) {
        const int cb = m.samples[1][i], cr = m.samples[2][i];
        terms[0][i] = static_cast<int16_t>(t.red[cr]);
        terms[1][i] = static_cast<int16_t>((t.greenCb[cb] + t.greenCr[cr]) >> 25);
        terms[2][i] = static_cast<int16_t>(t.blue[cb]);
    }
    const int width = m.width[0];
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < rows; ++r) {
        uint8_t* out = d.pixels + (static_cast<size_t>(top + r) * d.width + left) * 4;
        const uint8_t* y = m.samples[0] + r * width;
        const int chromaRow = (r / vRepeat[1]) * chromaWidth;
        for (int x = 0; x < width; x += 8, out += 32) {
            const __m128i luma = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
            __m128i term[3];
            for (int k = 0; k < 3; ++k) {
                const int16_t* p = terms[k] + chromaRow + x / hRepeat[1];
                if (hRepeat[1] == 1) {
                    term[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
                } else {
                    const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
                    term[k] = _mm_unpacklo_epi16(four, four);
                }
            }
            storeEight(out, _mm_add_epi16(luma, term[0]), _mm_add_epi16(luma, term[1]),
                       _mm_add_epi16(luma, term[2]));
        }
    }
}
#endif

// Writes the pixels of the MCU at (left, top) from its planes, inside the image only.
void writeMcu(JpegDecoder& d, const McuPlanes& m, int left, int top, int mcuWidth, int mcuHeight,
              const int* hRepeat, const int* vRepeat) {
    const int columns = left + mcuWidth <= d.width ? mcuWidth : d.width - left;
    const int rows = top + mcuHeight <= d.height ? mcuHeight : d.height - top;
#if defined(__SSE2__)
    if (d.componentCount == 3 && columns == mcuWidth && hRepeat[1] == hRepeat[2] && hRepeat[1] <= 2 &&
        vRepeat[1] == vRepeat[2]) {
        writeMcuRows(d, m, left, top, rows, hRepeat, vRepeat);
        return;
    }
    if (d.componentCount == 1 && columns == 8) {
        for (int r = 0; r < rows; ++r) {
            const __m128i luma = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(m.samples[0] + r * 8)), _mm_setzero_si128());
            storeEight(d.pixels + (static_cast<size_t>(top + r) * d.width + left) * 4, luma, luma, luma);
        }
        return;
    }
#endif
    uint8_t chromaColumn[3][32];  // sample column of each pixel column, by component
    if (d.componentCount == 3)
        for (int c = 1; c < 3; ++c)
            for (int x = 0; x < columns; ++x) chromaColumn[c][x] = static_cast<uint8_t>(x / hRepeat[c]);
    for (int r = 0; r < rows; ++r) {
        uint8_t* out = d.pixels + (static_cast<size_t>(top + r) * d.width + left) * 4;
        const uint8_t* y = m.samples[0] + r * m.width[0];
        if (d.componentCount == 1) {
            for (int x = 0; x < columns; ++x, out += 4) storePixel(out, y[x], y[x], y[x]);
            continue;
        }
        const uint8_t* cb = m.samples[1] + (r / vRepeat[1]) * m.width[1];
        const uint8_t* cr = m.samples[2] + (r / vRepeat[2]) * m.width[2];
        for (int x = 0; x < columns; ++x, out += 4) rgbaOf(y[x], cb[chromaColumn[1][x]], cr[chromaColumn[2][x]], out);
    }
}
}  // namespace

void decodeScan() {
    JpegDecoder& d = jpegDecoder;
    // Pixels per sample of each component: component 0 carries the largest factors.
    int hRepeat[3] = {1, 1, 1}, vRepeat[3] = {1, 1, 1};
    if (d.componentCount == 3)
        for (int c = 1; c < 3; ++c) {
            hRepeat[c] = d.components[0].hSampling / d.components[c].hSampling;
            vRepeat[c] = d.components[0].vSampling / d.components[c].vSampling;
        }
    d.dcPredictors[0] = d.dcPredictors[1] = d.dcPredictors[2] = 0;

    // Without memory for the data, the picture comes out as if the data ended at once.
    if (!loadScanData(d.file)) d.dataEnded = true;
    ScanState s;
    s.reader = {scanData.bytes.data(), 0};
    s.endBit = uint64_t(scanData.size) * 8;
    s.resets = scanData.resets.data();
    s.resetsEnd = s.resets + scanData.resets.size();
    McuPlanes planes;
    for (int c = 0; c < d.componentCount; ++c) {
        s.dc[c].build(d.dcTables[d.components[c].dcTable]);
        s.ac[c].build(d.acTables[d.components[c].acTable]);
        planes.width[c] = d.components[c].hSampling * 8;
    }

    alignas(16) float block[64] = {};
    const int mcuWidth = d.components[0].hSampling * 8;    // pixels
    const int mcuHeight = d.components[0].vSampling * 8;   // pixels
    int64_t mcuIndex = 0;
    for (int y0 = 0; y0 < d.height; y0 += mcuHeight)
        for (int x0 = 0; x0 < d.width; x0 += mcuWidth, ++mcuIndex) {
            // Each restart interval starts on a byte boundary: the rest of the current
            // byte is dropped, so the next bit read comes after the restart marker.
            if (d.restartInterval > 0 && mcuIndex % d.restartInterval == 0)
                s.reader.position = (s.reader.position + 7) & ~uint64_t(7);
            for (int c = 0; c < d.componentCount; ++c)
                for (int by = 0; by < d.components[c].vSampling; ++by)
                    for (int bx = 0; bx < d.components[c].hSampling; ++bx) {
                        const int stride = planes.width[c];
                        uint8_t* samples = planes.samples[c] + by * 8 * stride + bx * 8;
                        bool full = false;
                        if (!d.dataEnded) {
                            full = readBlock(d, s, c, block);
                            // A block that the data does not reach to its end comes
                            // out all zero, that is mid-grey.
                            if (s.reader.position > s.endBit) {
                                d.dataEnded = true;
                                if (full) std::memset(block, 0, sizeof block);
                                full = false;
                                block[0] = 0.0f;
                            }
                        }
                        // With only a DC value, every sample of the inverse DCT is
                        // that value exactly.
                        if (full) {
                            blockSamples(block, samples, stride);
                        } else {
                            const uint8_t value = sampleOf(block[0]);
                            block[0] = 0.0f;
                            for (int r = 0; r < 8; ++r) std::memset(samples + r * stride, value, 8);
                        }
                    }
            writeMcu(d, planes, x0, y0, mcuWidth, mcuHeight, hRepeat, vRepeat);
        }
}

void inverseDct(float* b) {
    // Columns first (stride 8), then rows (stride 1), the same eight-point pass.
    for (int pass = 0; pass < 2; ++pass)
        for (int line = 0; line < 8; ++line) {
            const int step = pass == 0 ? 8 : 1;
            float* p = pass == 0 ? b + line : b + line * 8;
            float v[8];
            for (int i = 0; i < 8; ++i) v[i] = p[i * step];
            idctPass(v, 1.4142135f, 1.847759f, 1.0823922f, 2.613126f);
            for (int i = 0; i < 8; ++i) p[i * step] = v[i];
        }
}

void convertYCbCrToRgb() {
    JpegDecoder& d = jpegDecoder;
    const size_t count = static_cast<size_t>(d.width) * d.height;
    uint8_t* p = d.pixels;
    for (size_t i = 0; i < count; ++i, p += 4) rgbaOf(p[0], p[1], p[2], p);
}

bool decodeJpegStream(FILE* stream) {
    JpegDecoder& d = jpegDecoder;
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
    if (d.dataEnded) d.warning = "image data ends early; the rest of the picture is grey";
    return true;
}

void releaseJpegPixels() {
    JpegDecoder& d = jpegDecoder;
    std::free(d.pixels);
    d.pixels = nullptr;
}

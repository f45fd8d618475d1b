// Helpers for the decoder tests: memory streams, hand-built JPEG segments and
// entropy-coded bits, and Netpbm images from other programs.
#pragma once
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A file under tests/texture/ (data/..., fuzz/regressions), by its source path.
inline std::string testsFile(const std::string& relative) {
    return std::string(TEXTURE_TESTS_DIR) + "/" + relative;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A read-only stream over `bytes`, which must outlive it.
inline FILE* memoryStream(Bytes& bytes) {
    if (bytes.empty()) return std::fopen("/dev/null", "rb");
    return fmemopen(bytes.data(), bytes.size(), "rb");
}

// 0xFF, marker, 16-bit length, body.
inline Bytes segment(int marker, const Bytes& body) {
    const size_t length = body.size() + 2;
    return Bytes{0xFF, uint8_t(marker), uint8_t(length >> 8), uint8_t(length)} + body;
}

// SOF0 with components {id, sampling byte, quantisation table id}.
inline Bytes frame(int width, int height, std::initializer_list<std::initializer_list<int>> comps) {
    Bytes body{8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
               uint8_t(comps.size())};
    for (auto& c : comps)
        for (int v : c) body.push_back(uint8_t(v));
    return segment(0xC0, body);
}

// SOS naming components {selector, table byte}.
inline Bytes scan(std::initializer_list<std::initializer_list<int>> comps) {
    Bytes body{uint8_t(comps.size())};
    for (auto& c : comps)
        for (int v : c) body.push_back(uint8_t(v));
    return segment(0xDA, body + Bytes{0, 63, 0});
}

// An 8-bit quantisation table of ones.
inline Bytes unitQuantTable(int id) {
    Bytes body{uint8_t(id)};
    body.resize(65, 1);
    return segment(0xDB, body);
}

// The body of one Huffman table: table byte, 16 counts, symbols.
inline Bytes huffmanTable(int tableByte, const Bytes& counts, const Bytes& symbols) {
    Bytes body{uint8_t(tableByte)};
    Bytes c = counts;
    c.resize(16, 0);
    return body + c + symbols;
}

// The usual luminance DC table: categories 0..11, codes 00, 010, 011, 100, 101, 110,
// 1110, ... 111111110.
inline Bytes luminanceDcTable(int tableByte) {
    return huffmanTable(tableByte, {0, 1, 5, 1, 1, 1, 1, 1, 1},
                        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
}

// A small AC table: 0 end of block (code 0), 0x01 (10), 0xF0 sixteen zeros (110),
// 0xF1 (111).
inline Bytes smallAcTable(int tableByte) { return huffmanTable(tableByte, {1, 1, 2}, {0x00, 0x01, 0xF0, 0xF1}); }

// Entropy-coded data written bit by bit, most significant first, with 0xFF stuffed.
struct BitWriter {
    Bytes bytes;
    int pending = 0, count = 0;
    // `bits` is a string of '0' and '1'.
    BitWriter& put(const std::string& bits) {
        for (char b : bits) {
            pending = pending * 2 + (b == '1');
            if (++count == 8) flushByte();
        }
        return *this;
    }
    void flushByte() {
        bytes.push_back(uint8_t(pending));
        if (pending == 0xFF) bytes.push_back(0x00);
        pending = count = 0;
    }
    // Pads the last byte with ones and returns the data.
    Bytes finish() {
        while (count != 0) put("1");
        return bytes;
    }
};

// An image from a Netpbm stream: djpeg's P5 or P6, or decode-jpeg's P7 (RGBA).
struct Image {
    int width = 0, height = 0, depth = 0;  // depth: bytes per pixel
    Bytes pixels;
};

inline Image readNetpbm(FILE* in) {
    Image image;
    int kind = 0, maxval = 0;
    if (std::fscanf(in, "P%d", &kind) != 1) return image;
    if (kind == 7) {
        std::fscanf(in, " WIDTH %d HEIGHT %d DEPTH %d MAXVAL %d TUPLTYPE RGB_ALPHA ENDHDR", &image.width,
                    &image.height, &image.depth, &maxval);
    } else {
        std::fscanf(in, "%d %d %d", &image.width, &image.height, &maxval);
        image.depth = kind == 5 ? 1 : 3;
    }
    std::fgetc(in);  // the one whitespace byte before the pixels
    image.pixels.resize(size_t(image.width) * image.height * image.depth);
    image.pixels.resize(std::fread(image.pixels.data(), 1, image.pixels.size(), in));
    return image;
}

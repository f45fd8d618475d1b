// Our baseline JPEG decoder (sequential DCT, Huffman coded): one frame of one or three
// components, one interleaved scan. Pure code: bytes from a FILE* in, RGBA pixels out;
// no GL. Owns the decoder state `jpegDecoder`, one per thread, so that pictures can be
// decoded on several threads at once; everything here works on the calling thread's.
#pragma once
#include <cstdint>
#include <cstdio>

// Largest image the decoder accepts, in pixels (64 MiB of RGBA); larger frames are
// refused before anything is allocated.
constexpr int64_t JPEG_MAX_PIXELS = 16 * 1024 * 1024;

struct JpegComponent {
    int32_t id;         // component identifier from the frame header
    int32_t hSampling;  // 1..4
    int32_t vSampling;  // 1..4
    int32_t quantTable; // 0..3
    int32_t dcTable;    // 0..3, from the scan header
    int32_t acTable;    // 0..3, from the scan header
};

struct HuffmanTable {
    uint8_t counts[16];    // counts[n - 1]: number of codes of length n
    uint8_t symbols[256];  // symbols in code order
    uint8_t lengths[256];  // code length of symbols[k], 1..16
    uint16_t codes[256];   // code of symbols[k], right-aligned
};

struct JpegDecoder {
    FILE* file;               // open JPEG stream, read from its current position
    int32_t width;            // pixels
    int32_t height;           // pixels
    uint8_t* pixels;          // width * height * 4 bytes, RGBA, top row first; owned by the caller
    int32_t precision;        // bits per sample from the frame header; not used
    int32_t componentCount;   // 1 (grey) or 3 (YCbCr)
    int32_t restartInterval;  // MCUs between restart markers, 0 when none
    JpegComponent components[3];
    HuffmanTable acTables[4];
    HuffmanTable dcTables[4];
    int32_t quantTables[4][64];  // zigzag order, as in the file
    int32_t spectralStart, spectralEnd;  // Ss, Se of the scan header; not used
    int32_t approxHigh, approxLow;       // Ah, Al of the scan header; not used
    int32_t dcPredictors[3];  // by component position
    int32_t bitPosition;      // next bit of currentByte to deliver, 0 (MSB) .. 7
    uint8_t currentByte;      // data byte being delivered (0xFF for a stuffed pair)

    bool frameSeen;           // a frame header has been read
    bool endOfFile;           // a read went past the end of the stream
    bool dataEnded;           // the entropy-coded data ended before the last MCU
    const char* failure;      // why the last decode failed, a few words; null when none
    const char* warning;      // what was wrong with a decode that still gave pixels; null when none
};

extern thread_local JpegDecoder jpegDecoder;

// Every field of jpegDecoder becomes zero (file handle and pixel pointer included).
void resetDecoder();

// One byte of the stream, 0..255. At the end of the stream it sets endOfFile and
// returns 0. Leaves it in currentByte with bitPosition 0.
int readByte();
// Two bytes, high byte first, 0..65535; does not touch currentByte or bitPosition.
int readWord();

// Reads the marker segments up to and including the scan header. Returns 1 with the
// stream at the first byte of entropy-coded data, 0 (with `failure` set) otherwise.
int readHeaders();

// The next bit of entropy-coded data, 0 or 1. Past the end of the data (end of file
// or an end-of-image marker) it sets dataEnded and delivers zeros.
int readBit();
// The next n bits, first bit most significant; n <= 0 gives 0 and reads nothing.
int readBits(int n);
// The n-bit magnitude category value v as a signed value (EXTEND of T.81).
int extendSign(int n, int v);
// One Huffman code read with `table`: its symbol, or the 16 bits read when no code matches.
int decodeHuffman(const HuffmanTable& table);

// Decodes the whole scan into `pixels` as RGBA: a three-component picture converted
// from YCbCr as convertYCbCrToRgb converts it, a one-component one as grey; alpha 255.
// Needs readHeaders() == 1 and width * height * 4 bytes at `pixels`; reads the rest of
// the stream. Blocks past the end of the data are left mid-grey (all coefficients zero).
void decodeScan();
// Floating-point AAN inverse DCT of coefficients prescaled by aanScale, in place.
// Yields eight times the samples.
void inverseDct(float* block);
// Every pixel from Y, Cb, Cr in bytes 0..2 to R, G, B, 255.
void convertYCbCrToRgb();

// One whole decode of `stream` (already open, read from its current position):
// reset, headers, pixel buffer, scan. On success returns true with
// jpegDecoder.pixels holding RGBA (alpha 255) allocated with malloc, to be released
// by the caller with releaseJpegPixels(); jpegDecoder.file is `stream`, still open.
// A scan whose data ends early still succeeds, with `warning` set. On failure returns
// false with `failure` set and nothing allocated. The stream is never closed here.
bool decodeJpegStream(FILE* stream);
// Frees jpegDecoder.pixels and clears the pointer.
void releaseJpegPixels();

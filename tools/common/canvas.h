// A small RGBA picture for the tools' reports: filled rectangles, lines, labels drawn
// with the system's sans-serif face and pasted images; writePng (png_file.h) saves it.
// Not used by the demo.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
};

struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // rows from the top, 4 bytes per pixel

    Canvas(int width, int height, Rgb background);

    void fillRect(int x, int y, int w, int h, Rgb color);
    // A one-pixel line, both ends included.
    void line(int x0, int y0, int x1, int y1, Rgb color);
    // Text with its baseline at y, `pixelSize` pixels per em. Returns the advance in pixels.
    // Draws nothing (and returns 0) when no font is found.
    int text(int x, int y, const std::string& s, int pixelSize, Rgb color);
    // Copies an RGBA image (rows from the top) with its top-left at (x, y), clipped.
    void paste(const uint8_t* image, int imageWidth, int imageHeight, int x, int y);
};

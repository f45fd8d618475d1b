// A small software painter for the generated pictures: float RGB images, shape
// coverage masks with anti-aliased edges, smooth outlines and tileable noise.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace assets {

struct Rgb {
    float r, g, b;  // 0..1
};

Rgb mix(Rgb a, Rgb b, float t);                  // t 0..1: a..b
Rgb scale(Rgb c, float k);
float smoothstep(float edge0, float edge1, float x);
float clamp01(float x);

// Picture being painted; (0, 0) is the top-left pixel.
struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;

    Image(int w, int h) : width(w), height(h), pixels((size_t)w * h, Rgb{0, 0, 0}) {}
    Rgb& at(int x, int y) { return pixels[(size_t)y * width + x]; }
    // Sets every pixel from `shade`(u, v), u and v the pixel centre in 0..1.
    void fill(const std::function<Rgb(float u, float v)>& shade);
};

// Per-pixel coverage 0..1 of painted shapes; also the form a mask is written in.
struct Coverage {
    int width = 0, height = 0;
    std::vector<float> values;

    Coverage(int w, int h) : width(w), height(h), values((size_t)w * h, 0.0f) {}
    float& at(int x, int y) { return values[(size_t)y * width + x]; }
    void unite(const Coverage& other);     // max of both
    void subtract(const Coverage& other);  // removes the other's coverage
};

struct Point {
    float x, y;  // in 0..1 of the picture's width and height
};

// Anti-aliased even-odd fill of a closed polygon (4 x 4 samples a pixel).
Coverage polygonCoverage(int width, int height, const std::vector<Point>& points);
// Anti-aliased ellipse; centre and radii in 0..1 units of width and height.
Coverage ellipseCoverage(int width, int height, Point centre, float rx, float ry);
// Closed Catmull-Rom curve through `controls`, `perSegment` points between each pair.
std::vector<Point> smoothOutline(const std::vector<Point>& controls, int perSegment);
// A band `thickness` wide (0..1 units) along the open polyline `points`.
std::vector<Point> strokeOutline(const std::vector<Point>& points, float thickness);

// Paints `colour` over `image` where `shape` covers it.
void paint(Image& image, const Coverage& shape, Rgb colour);
void paint(Image& image, const Coverage& shape, const std::function<Rgb(float u, float v)>& shade);

// Value noise 0..1 on a lattice of `period` cells across 0..1 (so it tiles), smoothed.
float tileNoise(float u, float v, int period, uint32_t seed);
// Sum of `octaves` noise layers, each twice as fine and half as strong; 0..1.
float tileFbm(float u, float v, int period, int octaves, uint32_t seed);
// Hash of integer coordinates, 0..1.
float hash01(int x, int y, uint32_t seed);

// 8-bit rows, top first: RGB for an image, grey for a coverage.
std::vector<uint8_t> toBytes(const Image& image);
std::vector<uint8_t> toBytes(const Coverage& coverage);

} // namespace assets

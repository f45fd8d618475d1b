// The icon: a rounded tile in the demo's colours. Coordinates u, v run 0..1 across it.
#include "tools/make_assets/icon.h"

#include "tools/make_assets/paint.h"

#include <png.h>

#include <algorithm>
#include <cmath>

namespace assets {
namespace {

// A rectangle [x0, x1] x [y0, y1] with corners rounded by `radius`, as a polygon.
std::vector<Point> roundedRect(float x0, float y0, float x1, float y1, float radius)
{
    const Point corners[4] = {{x1 - radius, y0 + radius}, {x1 - radius, y1 - radius},
                              {x0 + radius, y1 - radius}, {x0 + radius, y0 + radius}};
    const float pi = 3.14159265f;
    std::vector<Point> out;
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i <= 12; ++i) {
            float a = -pi / 2 + (c + i / 12.0f) * pi / 2;  // each corner a quarter turn on
            out.push_back({corners[c].x + radius * std::cos(a), corners[c].y + radius * std::sin(a)});
        }
    return out;
}

} // namespace

std::vector<uint8_t> drawIcon(int size)
{
    Coverage tile = polygonCoverage(size, size, roundedRect(0.03f, 0.03f, 0.97f, 0.97f, 0.16f));

    // The demo's white picture, a faint grey towards the bottom.
    Image image(size, size);
    image.fill([](float, float v) { return mix(Rgb{1, 1, 1}, Rgb{0.86f, 0.86f, 0.9f}, v); });
    // Its letterbox bars.
    paint(image, polygonCoverage(size, size, {{0, 0}, {1, 0}, {1, 0.15f}, {0, 0.15f}}), Rgb{0, 0, 0});
    paint(image, polygonCoverage(size, size, {{0, 0.85f}, {1, 0.85f}, {1, 1}, {0, 1}}), Rgb{0, 0, 0});

    // A cube seen from above one corner, lit from the upper left.
    const float cx = 0.5f, cy = 0.51f, w = 0.27f, h = 0.15f;
    const Point top = {cx, cy - 2 * h}, upLeft = {cx - w, cy - h}, upRight = {cx + w, cy - h},
                centre = {cx, cy}, downLeft = {cx - w, cy + h}, downRight = {cx + w, cy + h},
                bottom = {cx, cy + 2 * h};
    auto face = [&](std::vector<Point> corners, Rgb light, Rgb dark) {
        paint(image, polygonCoverage(size, size, corners), [=](float u, float v) {
            float t = clamp01((u - (cx - w)) / (2 * w) * 0.5f + (v - (cy - 2 * h)) / (4 * h) * 0.5f);
            return mix(light, dark, t);
        });
    };
    face({top, upRight, centre, upLeft}, {1.0f, 0.78f, 0.96f}, {0.86f, 0.58f, 0.9f});
    face({upLeft, centre, bottom, downLeft}, {0.66f, 0.3f, 0.76f}, {0.45f, 0.16f, 0.58f});
    face({centre, upRight, downRight, bottom}, {0.34f, 0.14f, 0.52f}, {0.2f, 0.07f, 0.34f});

    // The additive line overlay along the edges: at least one pixel wide.
    const float line = std::max(0.014f, 1.1f / size);
    const Point edges[][2] = {{top, upRight},      {upRight, downRight}, {downRight, bottom},
                              {bottom, downLeft},  {downLeft, upLeft},   {upLeft, top},
                              {centre, upLeft},    {centre, upRight},    {centre, bottom}};
    Coverage lines(size, size);
    for (const auto& e : edges)
        lines.unite(polygonCoverage(size, size, strokeOutline({e[0], e[1]}, line)));
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        Rgb& p = image.pixels[i];
        const float k = 0.55f * lines.values[i];  // added light
        p = {clamp01(p.r + k), clamp01(p.g + k), clamp01(p.b + k)};
    }

    const std::vector<uint8_t> rgb = toBytes(image), alpha = toBytes(tile);
    std::vector<uint8_t> rgba((size_t)size * size * 4);
    for (size_t i = 0; i < alpha.size(); ++i) {
        std::copy(&rgb[i * 3], &rgb[i * 3] + 3, &rgba[i * 4]);
        rgba[i * 4 + 3] = alpha[i];
    }
    return rgba;
}

bool writeIconPng(const std::string& path, int size, const std::vector<uint8_t>& rgba, std::string& error)
{
    png_image out = {};
    out.version = PNG_IMAGE_VERSION;
    out.width = (png_uint_32)size;
    out.height = (png_uint_32)size;
    out.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&out, path.c_str(), 0, rgba.data(), 0, nullptr)) {
        error = path + ": " + out.message;
        return false;
    }
    return true;
}

} // namespace assets

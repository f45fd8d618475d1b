// Software painting for the generated pictures. Deterministic: integer hashing for
// noise, fixed sample patterns for anti-aliasing.
#include "tools/make_assets/paint.h"

#include <algorithm>
#include <cmath>

namespace assets {

Rgb mix(Rgb a, Rgb b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scale(Rgb c, float k) { return {c.r * k, c.g * k, c.b * k}; }

float clamp01(float x) { return std::min(1.0f, std::max(0.0f, x)); }

float smoothstep(float edge0, float edge1, float x)
{
    float t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

void Image::fill(const std::function<Rgb(float u, float v)>& shade)
{
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            at(x, y) = shade((x + 0.5f) / width, (y + 0.5f) / height);
}

void Coverage::unite(const Coverage& other)
{
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = std::max(values[i], other.values[i]);
}

void Coverage::subtract(const Coverage& other)
{
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = std::max(0.0f, values[i] - other.values[i]);
}

Coverage polygonCoverage(int width, int height, const std::vector<Point>& points)
{
    Coverage out(width, height);
    const int sub = 4;
    size_t n = points.size();
    std::vector<float> crossings;
    std::vector<float> row(width + 1);
    for (int y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), 0.0f);
        for (int s = 0; s < sub; ++s) {
            float py = (y + (s + 0.5f) / sub) / height;
            crossings.clear();
            for (size_t i = 0; i < n; ++i) {
                Point a = points[i], b = points[(i + 1) % n];
                if ((a.y <= py) == (b.y <= py))
                    continue;
                float t = (py - a.y) / (b.y - a.y);
                crossings.push_back((a.x + t * (b.x - a.x)) * width);
            }
            std::sort(crossings.begin(), crossings.end());
            for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
                float x0 = std::max(0.0f, crossings[k]);
                float x1 = std::min((float)width, crossings[k + 1]);
                if (x1 <= x0)
                    continue;
                // Exact horizontal coverage of the span [x0, x1) on this sample row.
                int first = (int)x0, last = (int)x1;
                if (first == last) {
                    row[first] += (x1 - x0) / sub;
                    continue;
                }
                row[first] += (first + 1 - x0) / sub;
                for (int x = first + 1; x < last; ++x)
                    row[x] += 1.0f / sub;
                if (last < width)
                    row[last] += (x1 - last) / sub;
            }
        }
        for (int x = 0; x < width; ++x)
            out.at(x, y) = clamp01(row[x]);
    }
    return out;
}

Coverage ellipseCoverage(int width, int height, Point centre, float rx, float ry)
{
    Coverage out(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float dx = ((x + 0.5f) / width - centre.x) / rx;
            float dy = ((y + 0.5f) / height - centre.y) / ry;
            float d = std::sqrt(dx * dx + dy * dy);
            // Distance to the edge in pixels, along the smaller radius.
            float edge = (1.0f - d) * std::min(rx * width, ry * height);
            out.at(x, y) = clamp01(edge + 0.5f);
        }
    return out;
}

std::vector<Point> smoothOutline(const std::vector<Point>& controls, int perSegment)
{
    std::vector<Point> out;
    size_t n = controls.size();
    for (size_t i = 0; i < n; ++i) {
        Point p0 = controls[(i + n - 1) % n], p1 = controls[i];
        Point p2 = controls[(i + 1) % n], p3 = controls[(i + 2) % n];
        for (int k = 0; k < perSegment; ++k) {
            float t = (float)k / perSegment, t2 = t * t, t3 = t2 * t;
            auto blend = [&](float a, float b, float c, float d) {
                return 0.5f * (2.0f * b + (-a + c) * t + (2.0f * a - 5.0f * b + 4.0f * c - d) * t2 +
                               (-a + 3.0f * b - 3.0f * c + d) * t3);
            };
            out.push_back({blend(p0.x, p1.x, p2.x, p3.x), blend(p0.y, p1.y, p2.y, p3.y)});
        }
    }
    return out;
}

std::vector<Point> strokeOutline(const std::vector<Point>& points, float thickness)
{
    std::vector<Point> left, right;
    size_t n = points.size();
    for (size_t i = 0; i < n; ++i) {
        Point a = points[i > 0 ? i - 1 : 0], b = points[i + 1 < n ? i + 1 : n - 1];
        float dx = b.x - a.x, dy = b.y - a.y;
        float len = std::sqrt(dx * dx + dy * dy);
        float nx = len > 0 ? -dy / len : 0, ny = len > 0 ? dx / len : 0;
        float h = thickness * 0.5f;
        left.push_back({points[i].x + nx * h, points[i].y + ny * h});
        right.push_back({points[i].x - nx * h, points[i].y - ny * h});
    }
    std::vector<Point> out = left;
    out.insert(out.end(), right.rbegin(), right.rend());
    return out;
}

void paint(Image& image, const Coverage& shape, Rgb colour)
{
    for (size_t i = 0; i < image.pixels.size(); ++i)
        if (shape.values[i] > 0.0f)
            image.pixels[i] = mix(image.pixels[i], colour, shape.values[i]);
}

void paint(Image& image, const Coverage& shape, const std::function<Rgb(float u, float v)>& shade)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            float c = shape.values[(size_t)y * image.width + x];
            if (c > 0.0f)
                image.at(x, y) = mix(image.at(x, y),
                                     shade((x + 0.5f) / image.width, (y + 0.5f) / image.height), c);
        }
}

float hash01(int x, int y, uint32_t seed)
{
    uint32_t h = (uint32_t)x * 0x8DA6B343u ^ (uint32_t)y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / 16777215.0f;
}

float tileNoise(float u, float v, int period, uint32_t seed)
{
    float fx = u * period, fy = v * period;
    int x0 = (int)std::floor(fx), y0 = (int)std::floor(fy);
    float tx = fx - x0, ty = fy - y0;
    tx = tx * tx * (3.0f - 2.0f * tx);
    ty = ty * ty * (3.0f - 2.0f * ty);
    auto corner = [&](int x, int y) {
        return hash01(((x % period) + period) % period, ((y % period) + period) % period, seed);
    };
    float a = corner(x0, y0), b = corner(x0 + 1, y0);
    float c = corner(x0, y0 + 1), d = corner(x0 + 1, y0 + 1);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float tileFbm(float u, float v, int period, int octaves, uint32_t seed)
{
    float sum = 0.0f, weight = 1.0f, total = 0.0f;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * tileNoise(u, v, period << o, seed + o * 101);
        total += weight;
        weight *= 0.5f;
    }
    return sum / total;
}

std::vector<uint8_t> toBytes(const Image& image)
{
    std::vector<uint8_t> out(image.pixels.size() * 3);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const Rgb& c = image.pixels[i];
        out[i * 3 + 0] = (uint8_t)std::lround(clamp01(c.r) * 255.0f);
        out[i * 3 + 1] = (uint8_t)std::lround(clamp01(c.g) * 255.0f);
        out[i * 3 + 2] = (uint8_t)std::lround(clamp01(c.b) * 255.0f);
    }
    return out;
}

std::vector<uint8_t> toBytes(const Coverage& coverage)
{
    std::vector<uint8_t> out(coverage.values.size());
    for (size_t i = 0; i < coverage.values.size(); ++i)
        out[i] = (uint8_t)std::lround(clamp01(coverage.values[i]) * 255.0f);
    return out;
}

} // namespace assets

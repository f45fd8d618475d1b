// The thirteen pictures, each drawn for where the demo shows it. Coordinates are
// u (left to right) and v (top to bottom), both 0..1 across the picture; the
// textures that the demo repeats or wraps are periodic in u and v.
#include "tools/make_assets/pictures.h"

#include "tools/make_assets/paint.h"

#include <cmath>

namespace assets {
namespace {

constexpr float TAU = 6.28318530718f;

// Cosine palette: a + b cos(2 pi (c t + d)), per channel.
Rgb palette(float t, Rgb a, Rgb b, Rgb c, Rgb d)
{
    return {a.r + b.r * std::cos(TAU * (c.r * t + d.r)), a.g + b.g * std::cos(TAU * (c.g * t + d.g)),
            a.b + b.b * std::cos(TAU * (c.b * t + d.b))};
}

PictureFile colourFile(const char* name, const Image& image, JpegLayout layout)
{
    return {name, image.width, image.height, 3, layout, toBytes(image)};
}

PictureFile maskFile(const char* name, const Coverage& mask)
{
    JpegLayout layout;
    layout.quality = 95;  // masks: little ringing along the cut-out edges
    return {name, mask.width, mask.height, 1, layout, toBytes(mask)};
}

// Distance in pixels inside a band: 1 inside [from, to], 0 outside, smooth over a pixel.
float band(float x, float from, float to, float pixel)
{
    return clamp01((x - from) / pixel + 0.5f) * clamp01((to - x) / pixel + 0.5f);
}

// tex1: a framed plasma tile for the cube cluster, the cube field and the torus.
// Every face of a cube shows the whole picture, so the frame outlines each face.
Image drawTex1()
{
    const int size = 512;
    const float px = 1.0f / size;
    Image image(size, size);
    image.fill([&](float u, float v) {
        float p = std::sin(TAU * 2.0f * u + 1.3f) + std::sin(TAU * 3.0f * v + 0.4f) +
                  std::sin(TAU * (u + 2.0f * v) + 2.1f) + std::sin(TAU * (3.0f * u - v) + 0.7f);
        float t = p * 0.2f + 0.5f;
        Rgb c = palette(t, {0.6f, 0.45f, 0.6f}, {0.4f, 0.4f, 0.4f}, {1.0f, 1.0f, 1.0f},
                        {0.95f, 0.1f, 0.3f});
        // Fine diagonal sheen so that large faces do not look flat.
        float sheen = 0.5f + 0.5f * std::sin(TAU * 16.0f * (u + v));
        c = mix(c, Rgb{1, 1, 1}, 0.06f * sheen);
        float edge = std::min(std::min(u, 1.0f - u), std::min(v, 1.0f - v));
        float border = 1.0f - clamp01((edge - 0.035f) / px + 0.5f);
        // Bevel: lit along the top and left, shaded along the bottom and right.
        float lit = (u < 1.0f - u && u < std::min(v, 1.0f - v)) || (v < std::min(u, 1.0f - u)) ? 1.0f : 0.0f;
        Rgb frame = lit > 0 ? Rgb{0.25f, 0.2f, 0.45f} : Rgb{0.06f, 0.04f, 0.16f};
        c = mix(c, frame, border);
        c = mix(c, Rgb{0.85f, 1.0f, 1.0f}, band(edge, 0.052f, 0.06f, px));
        return c;
    });
    return image;
}

// tex3: metal panels with seams, rivets, vents and glowing rings, for the room,
// the tubes and the cube shell. Four by four panels; the picture tiles.
Image drawTex3()
{
    const int size = 512;
    const float cells = 4.0f;
    const float px = cells / size;  // one pixel in panel units
    Image image(size, size);
    image.fill([&](float u, float v) {
        int cx = (int)(u * cells), cy = (int)(v * cells);
        float lu = u * cells - cx, lv = v * cells - cy;
        float pick = hash01(cx, cy, 31);
        Rgb base = mix(Rgb{0.20f, 0.46f, 0.55f}, Rgb{0.27f, 0.34f, 0.62f}, pick);
        base = scale(base, 0.85f + 0.3f * hash01(cx, cy, 32));
        float grain = tileFbm(u, v * 0.25f + lu * 0.0f, 32, 3, 33);
        float streak = tileNoise(u, v, 128, 34);
        Rgb c = scale(base, 0.88f + 0.18f * grain + 0.06f * streak);
        // Bevel and seam, measured in pixels from the panel's edge.
        float left = lu / px, right = (1.0f - lu) / px, top = lv / px, bottom = (1.0f - lv) / px;
        float edge = std::min(std::min(left, right), std::min(top, bottom));
        if (edge < 9.0f) {
            bool lit = std::min(left, top) <= std::min(right, bottom);
            c = mix(c, lit ? mix(c, Rgb{0.8f, 0.95f, 1.0f}, 0.45f) : scale(c, 0.45f),
                    1.0f - smoothstep(7.0f, 9.0f, edge));
        }
        c = mix(c, Rgb{0.02f, 0.05f, 0.09f}, 1.0f - smoothstep(2.0f, 3.5f, edge));
        int kind = (int)(hash01(cx, cy, 35) * 4.0f);
        float du = lu - 0.5f, dv = lv - 0.5f;
        if (kind == 0 || kind == 3) {
            // Rivets near the corners.
            for (int k = 0; k < 4; ++k) {
                float rx = (k & 1) ? 0.88f : 0.12f, ry = (k & 2) ? 0.88f : 0.12f;
                float d = std::sqrt((lu - rx) * (lu - rx) + (lv - ry) * (lv - ry)) / px;
                float cover = clamp01(5.5f - d);
                Rgb rivet = mix(Rgb{0.75f, 0.85f, 0.9f}, Rgb{0.1f, 0.15f, 0.2f},
                                clamp01((lu - rx + lv - ry) / (10.0f * px) + 0.5f));
                c = mix(c, rivet, cover);
            }
        }
        if (kind == 1) {
            // Five vent slits across the middle.
            for (int k = 0; k < 5; ++k) {
                float y = 0.3f + 0.1f * k;
                float inside = band(lv, y - 0.02f, y + 0.02f, px) * band(lu, 0.22f, 0.78f, px);
                c = mix(c, Rgb{0.03f, 0.06f, 0.1f}, inside);
                c = mix(c, Rgb{0.7f, 0.9f, 1.0f}, 0.5f * band(lv, y + 0.02f, y + 0.03f, px) *
                                                      band(lu, 0.22f, 0.78f, px));
            }
        }
        if (kind == 2 || kind == 3) {
            // A glowing ring with a soft halo.
            float r = std::sqrt(du * du + dv * dv);
            float ring = band(r, 0.2f, 0.24f, px);
            float halo = std::exp(-std::fabs(r - 0.22f) * 18.0f) * 0.35f;
            c = mix(c, Rgb{0.55f, 1.0f, 1.0f}, clamp01(ring + halo));
        }
        return c;
    });
    return image;
}

// tex2 and its mask: a sun ring with sixteen rays, the sprite that swells with the
// music in the middle of the opening scene. The middle stays clear so that the
// cubes show through it.
void drawTex2(Image& image, Coverage& mask)
{
    const int size = image.width;
    image.fill([&](float u, float v) {
        float du = u - 0.5f, dv = v - 0.5f;
        float r = std::sqrt(du * du + dv * dv);
        float angle = std::atan2(dv, du);
        Rgb inner = {1.0f, 0.97f, 0.7f}, middle = {1.0f, 0.62f, 0.12f}, outer = {0.92f, 0.12f, 0.45f};
        Rgb c = r < 0.33f ? mix(inner, middle, smoothstep(0.18f, 0.33f, r))
                          : mix(middle, outer, smoothstep(0.33f, 0.48f, r));
        float rays = 0.5f + 0.5f * std::cos(angle * 32.0f);
        return mix(c, Rgb{1.0f, 1.0f, 0.9f}, 0.15f * rays * smoothstep(0.36f, 0.3f, r));
    });
    Point centre = {0.5f, 0.5f};
    Coverage ring = ellipseCoverage(size, size, centre, 0.355f, 0.355f);
    ring.subtract(ellipseCoverage(size, size, centre, 0.3f, 0.3f));
    Coverage thin = ellipseCoverage(size, size, centre, 0.237f, 0.237f);
    thin.subtract(ellipseCoverage(size, size, centre, 0.217f, 0.217f));
    ring.unite(thin);
    for (int k = 0; k < 16; ++k) {
        float a = TAU * k / 16.0f;
        float tip = k % 2 ? 0.425f : 0.49f;
        float half = 0.085f;
        std::vector<Point> ray = {
            {0.5f + 0.34f * std::cos(a - half), 0.5f + 0.34f * std::sin(a - half)},
            {0.5f + tip * std::cos(a), 0.5f + tip * std::sin(a)},
            {0.5f + 0.34f * std::cos(a + half), 0.5f + 0.34f * std::sin(a + half)},
        };
        ring.unite(polygonCoverage(size, size, ray));
        float b = a + TAU / 32.0f;
        ring.unite(ellipseCoverage(size, size, {0.5f + 0.268f * std::cos(b), 0.5f + 0.268f * std::sin(b)},
                                   0.012f, 0.012f));
    }
    mask = ring;
}

// tex5: the translucent banner of the cube-field scene, its own mask: its red
// channel is its opacity, so it is bright where it shows and fades to black at its
// ends. The running letters pass over its light middle.
Image drawTex5()
{
    Image image(512, 256);
    const float pxV = 1.0f / 256.0f;
    image.fill([&](float u, float v) {
        float across = smoothstep(0.03f, 0.25f, v) * (1.0f - smoothstep(0.75f, 0.97f, v));
        float along = smoothstep(0.0f, 0.1f, u) * (1.0f - smoothstep(0.9f, 1.0f, u));
        float a = across * along;
        float stripe = 0.5f + 0.5f * std::sin(TAU * (20.0f * u + 5.0f * v));
        Rgb c = {a, a * (0.94f - 0.05f * stripe), a * (0.8f - 0.1f * stripe)};
        float lines = band(v, 0.225f, 0.24f, pxV) + band(v, 0.76f, 0.775f, pxV);
        return mix(c, scale(Rgb{1.0f, 0.55f, 0.18f}, along), clamp01(lines));
    });
    return image;
}

// tex6: sunny flower tiles, two by two, periodic; scene 6 repeats them 2 to 16
// times across a turning layer over the closing picture.
Image drawTex6()
{
    const int size = 256;
    const float px = 2.0f / size;  // one pixel in cell units
    Image image(size, size);
    image.fill([&](float u, float v) {
        float t = 0.5f + 0.5f * std::sin(TAU * (u + v));
        Rgb c = mix(Rgb{1.0f, 0.52f, 0.68f}, Rgb{1.0f, 0.8f, 0.45f}, t);
        float lu = u * 2.0f - std::floor(u * 2.0f) - 0.5f, lv = v * 2.0f - std::floor(v * 2.0f) - 0.5f;
        float r = std::sqrt(lu * lu + lv * lv);
        float angle = std::atan2(lv, lu);
        float petal = 0.3f + 0.07f * std::cos(6.0f * angle);
        float inside = clamp01((petal - r) / px + 0.5f);
        Rgb flower = mix(Rgb{1.0f, 1.0f, 0.95f}, Rgb{1.0f, 0.6f, 0.75f}, smoothstep(0.1f, petal, r));
        c = mix(c, Rgb{1.0f, 1.0f, 1.0f}, clamp01((petal + 0.02f - r) / px + 0.5f));
        c = mix(c, flower, inside);
        c = mix(c, Rgb{1.0f, 0.75f, 0.1f}, clamp01((0.085f - r) / px + 0.5f));
        // Diamonds where four cells meet.
        float cu = 0.5f - std::fabs(lu), cv = 0.5f - std::fabs(lv);
        c = mix(c, Rgb{0.95f, 0.35f, 0.55f}, clamp01((0.1f - (cu + cv)) / px + 0.5f));
        return c;
    });
    return image;
}

// tex7: loaded at start-up but drawn by no scene: a small sky with clouds.
Image drawTex7()
{
    Image image(256, 256);
    image.fill([&](float u, float v) {
        Rgb sky = mix(Rgb{0.35f, 0.55f, 0.9f}, Rgb{0.8f, 0.9f, 1.0f}, v);
        float cloud = smoothstep(0.5f, 0.75f, tileFbm(u, v, 4, 4, 71));
        return mix(sky, Rgb{1, 1, 1}, cloud);
    });
    return image;
}

// tex8 and its mask: an arched window onto a dusk landscape (moon, hills, a bare
// tree, a small boy sitting alone), full screen behind the boy's story. Its
// middle is pale sky, where the captions run.
void drawTex8(Image& image, Coverage& mask)
{
    const int size = image.width;
    const float px = 1.0f / size;
    image.fill([&](float u, float v) {
        Rgb top = {0.34f, 0.42f, 0.74f}, middle = {0.78f, 0.72f, 0.9f}, low = {1.0f, 0.8f, 0.68f};
        Rgb c = v < 0.45f ? mix(top, middle, smoothstep(0.0f, 0.45f, v))
                          : mix(middle, low, smoothstep(0.45f, 0.72f, v));
        // Moon with a soft glow.
        float dx = u - 0.7f, dy = v - 0.27f;
        float r = std::sqrt(dx * dx + dy * dy);
        c = mix(c, Rgb{1.0f, 0.96f, 0.85f}, 0.35f * std::exp(-std::max(0.0f, r - 0.08f) * 14.0f));
        c = mix(c, Rgb{1.0f, 0.98f, 0.88f}, clamp01((0.08f - r) / px + 0.5f));
        // Stars in the upper sky.
        int sx = (int)(u * 48), sy = (int)(v * 48);
        if (v < 0.4f && hash01(sx, sy, 81) > 0.9f) {
            float cx = (sx + 0.5f) / 48.0f, cy = (sy + 0.5f) / 48.0f;
            float d = std::sqrt((u - cx) * (u - cx) + (v - cy) * (v - cy)) / px;
            c = mix(c, Rgb{1, 1, 1}, clamp01(2.0f - d) * (1.0f - v / 0.4f));
        }
        return c;
    });
    // Far hills, near hill with the boy, and a bare tree.
    std::vector<Point> far, nearHill;
    for (int k = 0; k <= 32; ++k) {
        float u = k / 32.0f;
        far.push_back({u, 0.69f + 0.035f * std::sin(TAU * (u * 1.5f + 0.1f)) + 0.015f * std::sin(TAU * u * 5.0f)});
        float bump = std::exp(-(u - 0.3f) * (u - 0.3f) / 0.03f);
        nearHill.push_back({u, 0.86f - 0.09f * bump + 0.02f * std::sin(TAU * u * 2.0f)});
    }
    far.push_back({1.0f, 1.0f});
    far.push_back({0.0f, 1.0f});
    nearHill.push_back({1.0f, 1.0f});
    nearHill.push_back({0.0f, 1.0f});
    paint(image, polygonCoverage(size, size, far), [](float, float v) {
        return mix(Rgb{0.56f, 0.5f, 0.74f}, Rgb{0.45f, 0.38f, 0.62f}, smoothstep(0.68f, 0.85f, v));
    });
    paint(image, polygonCoverage(size, size, nearHill), [](float, float v) {
        return mix(Rgb{0.27f, 0.22f, 0.42f}, Rgb{0.16f, 0.12f, 0.28f}, smoothstep(0.75f, 1.0f, v));
    });
    const Rgb shadow = {0.12f, 0.09f, 0.2f};
    // The boy, sitting on the hilltop with his knees drawn up, facing the moon.
    float groundY = 0.86f - 0.09f + 0.02f * std::sin(TAU * 0.3f * 2.0f);
    paint(image, ellipseCoverage(size, size, {0.3f, groundY - 0.082f}, 0.017f, 0.017f), shadow);
    paint(image,
          polygonCoverage(size, size,
                          smoothOutline({{0.287f, groundY - 0.064f}, {0.303f, groundY - 0.068f},
                                         {0.312f, groundY - 0.04f}, {0.334f, groundY - 0.032f},
                                         {0.338f, groundY - 0.004f}, {0.296f, groundY + 0.002f},
                                         {0.281f, groundY - 0.02f}},
                                        8)),
          shadow);
    // The tree: a trunk and forked branches as tapered strokes.
    auto branch = [&](Point a, Point b, float width) {
        paint(image, polygonCoverage(size, size, strokeOutline({a, b}, width)), shadow);
        paint(image, ellipseCoverage(size, size, b, width * 0.5f, width * 0.5f), shadow);
    };
    float treeX = 0.8f, treeBase = 0.9f;
    branch({treeX, treeBase}, {treeX + 0.01f, 0.6f}, 0.028f);
    branch({treeX + 0.01f, 0.6f}, {treeX - 0.08f, 0.47f}, 0.016f);
    branch({treeX + 0.01f, 0.62f}, {treeX + 0.1f, 0.5f}, 0.014f);
    branch({treeX - 0.04f, 0.53f}, {treeX - 0.05f, 0.43f}, 0.009f);
    branch({treeX + 0.06f, 0.55f}, {treeX + 0.07f, 0.44f}, 0.008f);
    branch({treeX + 0.01f, 0.6f}, {treeX + 0.02f, 0.42f}, 0.011f);
    branch({treeX - 0.08f, 0.47f}, {treeX - 0.13f, 0.44f}, 0.007f);
    branch({treeX + 0.1f, 0.5f}, {treeX + 0.15f, 0.48f}, 0.006f);
    // The arch: a rectangle with a round top, a thin light frame inside its edge.
    Coverage arch = ellipseCoverage(size, size, {0.5f, 0.47f}, 0.42f, 0.42f);
    std::vector<Point> lower = {{0.08f, 0.47f}, {0.92f, 0.47f}, {0.92f, 0.95f}, {0.08f, 0.95f}};
    arch.unite(polygonCoverage(size, size, lower));
    Coverage inner = ellipseCoverage(size, size, {0.5f, 0.47f}, 0.405f, 0.405f);
    std::vector<Point> innerLower = {{0.095f, 0.47f}, {0.905f, 0.47f}, {0.905f, 0.935f}, {0.095f, 0.935f}};
    inner.unite(polygonCoverage(size, size, innerLower));
    Coverage frame = arch;
    frame.subtract(inner);
    paint(image, frame, Rgb{0.98f, 0.9f, 0.75f});
    mask = arch;
}

// The outline of a horse's head and neck facing left, in picture units.
std::vector<Point> horseOutline()
{
    return smoothOutline({{0.470f, 0.115f}, {0.560f, 0.150f}, {0.640f, 0.200f}, {0.720f, 0.300f},
                          {0.790f, 0.440f}, {0.850f, 0.620f}, {0.900f, 0.800f}, {0.930f, 0.990f},
                          {0.520f, 0.990f}, {0.500f, 0.850f}, {0.470f, 0.730f}, {0.430f, 0.640f},
                          {0.380f, 0.590f}, {0.300f, 0.610f}, {0.220f, 0.660f}, {0.150f, 0.700f},
                          {0.105f, 0.685f}, {0.085f, 0.650f}, {0.070f, 0.600f}, {0.075f, 0.545f},
                          {0.110f, 0.490f}, {0.190f, 0.390f}, {0.280f, 0.280f}, {0.370f, 0.180f}},
                         10);
}

// tex9 and its mask: a golden horse's head with a dark flowing mane, the picture
// of the horses' message.
void drawTex9(Image& image, Coverage& mask)
{
    const int size = image.width;
    image.fill([&](float u, float v) {
        Rgb light = {1.0f, 0.83f, 0.45f}, dark = {0.78f, 0.45f, 0.16f};
        float t = clamp01(0.55f * u + 0.6f * v - 0.15f);
        Rgb c = mix(light, dark, t);
        // Soft shading along the cheek and the jaw.
        float dx = u - 0.42f, dy = v - 0.45f;
        c = mix(c, Rgb{1.0f, 0.93f, 0.7f}, 0.35f * std::exp(-(dx * dx + dy * dy) * 30.0f));
        float gloss = tileFbm(u, v, 8, 3, 91);
        return scale(c, 0.92f + 0.16f * gloss);
    });
    Coverage head = polygonCoverage(size, size, horseOutline());
    // Two ears with sharp tips.
    Coverage ears = polygonCoverage(size, size, {{0.43f, 0.17f}, {0.445f, 0.09f}, {0.47f, 0.015f}, {0.5f, 0.09f}, {0.525f, 0.16f}});
    ears.unite(polygonCoverage(size, size, {{0.5f, 0.18f}, {0.525f, 0.1f}, {0.57f, 0.035f}, {0.585f, 0.12f}, {0.6f, 0.2f}}));
    paint(image, ears, Rgb{0.85f, 0.55f, 0.22f});
    paint(image, polygonCoverage(size, size, {{0.455f, 0.15f}, {0.47f, 0.05f}, {0.495f, 0.15f}}), Rgb{0.6f, 0.32f, 0.12f});
    // Mane: wavy locks along the back of the neck, from the poll down.
    std::vector<Point> spine;
    for (int k = 0; k <= 16; ++k) {
        float s = k / 16.0f;
        spine.push_back({0.52f + 0.42f * s - 0.03f * s * s, 0.14f + 0.85f * s - 0.05f * std::sin(s * 3.0f)});
    }
    std::vector<Point> maneControls;
    for (size_t k = 0; k < spine.size(); ++k) {
        Point a = spine[k > 0 ? k - 1 : 0], b = spine[k + 1 < spine.size() ? k + 1 : k];
        float dx = b.x - a.x, dy = b.y - a.y, len = std::sqrt(dx * dx + dy * dy);
        float nx = -dy / len, ny = dx / len;  // away from the face
        float s = (float)k / (spine.size() - 1);
        float reach = (k % 2 ? 0.085f : 0.045f) * (0.5f + 0.5f * std::sin(3.14159f * std::min(1.0f, s * 1.6f + 0.15f)));
        maneControls.push_back({spine[k].x - nx * reach + 0.015f * (k % 2), spine[k].y - ny * reach + 0.02f * (k % 2)});
    }
    for (size_t k = spine.size(); k-- > 0;)
        maneControls.push_back({spine[k].x - 0.05f, spine[k].y + 0.02f});
    Coverage mane = polygonCoverage(size, size, smoothOutline(maneControls, 6));
    // Forelock falling over the forehead.
    Coverage forelock = polygonCoverage(size, size, smoothOutline({{0.46f, 0.13f}, {0.53f, 0.15f},
                                                                   {0.48f, 0.21f}, {0.41f, 0.26f},
                                                                   {0.43f, 0.19f}},
                                                                  8));
    mane.unite(forelock);
    paint(image, mane, [&](float u, float v) {
        float strands = 0.5f + 0.5f * std::sin(TAU * (u * 20.0f + v * 6.0f));
        return mix(Rgb{0.36f, 0.16f, 0.07f}, Rgb{0.55f, 0.27f, 0.1f}, 0.6f * strands);
    });
    // Eye, nostril and mouth.
    paint(image, ellipseCoverage(size, size, {0.385f, 0.28f}, 0.022f, 0.016f), Rgb{0.15f, 0.07f, 0.03f});
    paint(image, ellipseCoverage(size, size, {0.378f, 0.276f}, 0.006f, 0.005f), Rgb{1.0f, 0.95f, 0.85f});
    paint(image, ellipseCoverage(size, size, {0.118f, 0.56f}, 0.018f, 0.028f), Rgb{0.45f, 0.2f, 0.08f});
    paint(image, polygonCoverage(size, size, strokeOutline({{0.09f, 0.655f}, {0.13f, 0.645f}, {0.17f, 0.655f}}, 0.008f)),
          Rgb{0.45f, 0.2f, 0.08f});
    head.unite(ears);
    head.unite(mane);
    mask = head;
}

// tex10: the closing picture: a striped sun setting behind mountains over a
// glowing grid, under a violet sky with stars.
Image drawTex10()
{
    const int size = 512;
    const float px = 1.0f / size;
    const float horizon = 0.64f;
    Image image(size, size);
    image.fill([&](float u, float v) {
        if (v < horizon) {
            Rgb c = v < 0.4f ? mix(Rgb{0.16f, 0.05f, 0.34f}, Rgb{0.75f, 0.22f, 0.5f}, smoothstep(0.0f, 0.4f, v))
                             : mix(Rgb{0.75f, 0.22f, 0.5f}, Rgb{1.0f, 0.6f, 0.35f}, smoothstep(0.4f, horizon, v));
            int sx = (int)(u * 64), sy = (int)(v * 64);
            if (v < 0.35f && hash01(sx, sy, 101) > 0.88f) {
                float cx = (sx + 0.5f) / 64.0f, cy = (sy + 0.5f) / 64.0f;
                float d = std::sqrt((u - cx) * (u - cx) + (v - cy) * (v - cy)) / px;
                c = mix(c, Rgb{1, 1, 1}, clamp01(1.8f - d) * (1.0f - v / 0.35f));
            }
            // The sun, striped in its lower half with gaps that widen downwards.
            float dx = u - 0.5f, dy = v - 0.47f;
            float r = std::sqrt(dx * dx + dy * dy);
            float inSun = clamp01((0.24f - r) / px + 0.5f);
            if (v > 0.47f) {
                float k = (v - 0.47f) / 0.03f;
                float gap = 0.12f + 0.5f * (v - 0.47f) / 0.24f;
                float phase = k - std::floor(k);
                inSun *= clamp01((phase - gap) / (px / 0.03f) + 0.5f);
            }
            Rgb sun = mix(Rgb{1.0f, 0.95f, 0.45f}, Rgb{1.0f, 0.35f, 0.55f}, smoothstep(0.25f, 0.7f, v));
            c = mix(c, Rgb{1.0f, 0.7f, 0.5f}, 0.25f * std::exp(-std::max(0.0f, r - 0.24f) * 12.0f));
            return mix(c, sun, inSun);
        }
        // The ground: a grid in perspective fading into haze at the horizon.
        float depth = (v - horizon) / (1.0f - horizon);  // 0 at the horizon, 1 at the bottom
        float z = 1.0f / (depth + 0.05f);
        float gx = (u - 0.5f) * z * 1.2f;
        float lineX = std::fabs(gx * 4.0f - std::round(gx * 4.0f)) / (z * 4.0f * 1.2f * px);
        float lineZ = std::fabs(z * 1.0f - std::round(z * 1.0f));
        float widthZ = px * z * z * 2.4f;
        float grid = std::max(clamp01(1.5f - lineX), clamp01(1.0f - lineZ / std::max(widthZ, 1e-4f)));
        Rgb ground = mix(Rgb{0.55f, 0.2f, 0.5f}, Rgb{0.1f, 0.02f, 0.18f}, smoothstep(0.0f, 0.4f, depth));
        Rgb line = mix(Rgb{1.0f, 0.6f, 0.85f}, Rgb{1.0f, 0.3f, 0.9f}, depth);
        return mix(ground, line, grid * smoothstep(0.0f, 0.08f, depth) + grid * 0.3f);
    });
    // Mountains along the horizon, in front of the sun's lower edge.
    std::vector<Point> ridge;
    for (int k = 0; k <= 64; ++k) {
        float u = k / 64.0f;
        float h = 0.045f + 0.04f * std::fabs(std::sin(TAU * u * 1.5f + 0.3f)) +
                  0.02f * std::fabs(std::sin(TAU * u * 4.0f + 1.0f));
        h *= 0.4f + 0.6f * smoothstep(0.0f, 0.3f, std::fabs(u - 0.5f));
        ridge.push_back({u, horizon - h});
    }
    ridge.push_back({1.0f, horizon + 0.002f});
    ridge.push_back({0.0f, horizon + 0.002f});
    paint(image, polygonCoverage(size, size, ridge), [&](float, float v) {
        return mix(Rgb{0.3f, 0.08f, 0.35f}, Rgb{0.18f, 0.04f, 0.26f}, smoothstep(horizon - 0.1f, horizon, v));
    });
    return image;
}

// tex11: loaded at start-up but drawn by no scene: a small greyscale marble.
Image drawTex11()
{
    Image image(256, 256);
    image.fill([&](float u, float v) {
        float m = 0.5f + 0.5f * std::sin(TAU * (u * 2.0f + v) + 6.0f * tileFbm(u, v, 4, 4, 111));
        float g = 0.35f + 0.55f * m;
        return Rgb{g, g, g};
    });
    return image;
}

std::vector<uint8_t> greyOf(const Image& image)
{
    std::vector<uint8_t> rgb = toBytes(image), grey(rgb.size() / 3);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = rgb[i * 3];
    return grey;
}

} // namespace

std::vector<PictureFile> drawPictures()
{
    JpegLayout sharp;  // crisp patterns: full-resolution chroma
    sharp.fullChroma = true;
    JpegLayout soft;   // gradients and pictures: 4:2:0
    JpegLayout rows = sharp;
    rows.restartPerRow = true;

    std::vector<PictureFile> files;
    files.push_back(colourFile("tex1.jpg", drawTex1(), sharp));
    Image tex2(512, 512);
    Coverage tex2Mask(512, 512);
    drawTex2(tex2, tex2Mask);
    files.push_back(colourFile("tex2.jpg", tex2, soft));
    files.push_back(maskFile("tex2mask.jpg", tex2Mask));
    files.push_back(colourFile("tex3.jpg", drawTex3(), rows));
    files.push_back(colourFile("tex5.jpg", drawTex5(), soft));
    files.push_back(colourFile("tex6.jpg", drawTex6(), sharp));
    files.push_back(colourFile("tex7.jpg", drawTex7(), soft));
    Image tex8(512, 512);
    Coverage tex8Mask(512, 512);
    drawTex8(tex8, tex8Mask);
    files.push_back(colourFile("tex8.jpg", tex8, soft));
    files.push_back(maskFile("tex8mask.jpg", tex8Mask));
    Image tex9(512, 512);
    Coverage tex9Mask(512, 512);
    drawTex9(tex9, tex9Mask);
    files.push_back(colourFile("tex9.jpg", tex9, sharp));
    files.push_back(maskFile("tex9mask.jpg", tex9Mask));
    files.push_back(colourFile("tex10.jpg", drawTex10(), soft));
    Image tex11 = drawTex11();
    files.push_back({"tex11.jpg", 256, 256, 1, soft, greyOf(tex11)});
    return files;
}

} // namespace assets

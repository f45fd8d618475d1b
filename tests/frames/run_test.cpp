// The whole demo once, as the capture tool renders it (its start-up, its virtual clock at
// 20 frames a second, the music heard at each frame's position, the picture read back
// from the render target), checked three ways in that one pass:
//  - every frame's pixels against frame_hashes.txt (scene index and hash per frame), and
//    the moments in moments.txt against their pictures in reference/; a failure writes
//    the actual picture, the reference and their difference and names scene and time;
//  - every caption and running letter, read back as text through the font's observer
//    (text, anchor, alpha, raster position and colour), against the tables below;
//  - the state every mesh is drawn with (blending, lighting, culling, depth, texture,
//    colour, material, light) and every scene's camera, against the tables below.
// The tables say what the viewer is meant to see, independently of the scenes' code.
// `test_frames --update` writes the hash list and the reference pictures anew;
// `test_frames --plain` draws with the plain forms (the same pixels are expected);
// `test_frames --until SECONDS` checks the run up to that time only.
#include <GL/gl.h>
#include <mpg123.h>
#include <png.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/demo.h"
#include "app/display.h"
#include "app/timeline.h"
#include "render/bitmap_font.h"
#include "render/glyph_source.h"
#include "render/render_state.h"
#include "texture/texture_bank.h"
#include "tools/capture/capture_music.h"
#include "tools/capture/frame_clock.h"

namespace fs = std::filesystem;

namespace {

const FrameRate RATE{20, 1};  // every scene clock steps by exactly 1 per frame
const int W = 640, H = 480;
bool updating = false;  // --update: write the references instead of comparing
bool plain = false;     // --plain: the plain drawing forms (mesh state is then not read)
int64_t lastFrame = -1; // --until SECONDS: stop there (a quick look at the first scenes)

// ---------------------------------------------------------------------------------------
// Captions: what each scene prints, when, where and how faded. The clock c is the
// scene's clock t, or for scene 5's greetings the greetings clock g. A caption is issued
// in every frame where t > after; x = xBase + xSlope (c - xFrom), alpha = a0 - aSlope
// (c - aFrom), each difference rounded to a float first. Table order is drawing order.
struct CaptionRow {
    int scene;
    const char* text;
    float after;  // -1: always
    bool greetings;
    double xSlope, xFrom, xBase, y, a0, aSlope, aFrom;
};
const CaptionRow CAPTIONS[] = {
    {1, "LOALO", -1, false, 0, 0, -3, -3, 1, 0, 0},  // lead-in, off screen
    {1, "we are going to...", -1, false, 0.01, 0, -1.5, 0, 1, 0.015, 0},
    {1, "tell you a story...", 60, false, -0.01, 60, 0.3, -0.2, 1, 0.015, 60},
    {1, "about Inkhollow", 120, false, 0.004, 120, -2, 0, 1, 0.007, 120},
    {1, "And Velmora...", 120, false, 0.004, 120, -1.7, -0.15, 1, 0.007, 120},
    {1, "which is name of this demo...", 190, false, -0.01, 180, -0.7, -0.3, 1, 0.017, 180},
    {3, "little boy...", -1, false, 0.01, 0, -1.5, 0, 1, 0.014, 0},
    {3, "is very scared...", 60, false, -0.01, 60, 0.3, -0.2, 1, 0.014, 60},
    {3, "because how dare his mother...", 120, false, 0.01, 120, -1.5, 0, 1, 0.014, 120},
    {3, "punch him :(", 180, false, -0.01, 180, 0.3, -0.2, 1, 0.014, 180},
    {4, "listen carefully...", -1, false, 0.01, 0, -1.5, 0.6, 1, 0.014, 0},
    {4, "those horses have message...", 60, false, -0.01, 60, 0, 0.4, 1, 0.014, 60},
    {4, "but it can only be heard...", 120, false, 0.01, 120, -1.5, 0.6, 1, 0.014, 120},
    {4, "if you trust your heart.", 180, false, -0.01, 180, 0.3, 0.4, 1, 0.014, 180},
    {4, "it may be difficult...", 240, false, 0.01, 240, -1.5, 0.6, 1, 0.014, 240},
    {4, "and it may be evil...", 300, false, -0.01, 300, 0.3, 0.4, 1, 0.014, 300},
    {4, "but what in the earth...", 360, false, 0.01, 360, -1.5, 0.6, 1, 0.014, 360},
    {4, "can stop real horse lover!", 420, false, -0.01, 420, -0.4, 0.4, 1, 0.014, 420},
    {5, "lol", -1, false, 0, 0, -50, 0, 0, 0, 0},  // lead-in, off screen, alpha 0
    {5, "code:   sablenix", -1, false, 0.002, 0, -1.9, 0.3, 1, 0.009, 0},
    {5, "gfx:   dorvanth", 50, false, 0.002, 0, -1.9, 0, 1, 0.009, 50},
    {5, "music:   anonymous kestrune member", 100, false, 0.002, 0, -1.9, -0.3, 1, 0.009, 100},
    {5, "greetings to...", 200, true, 0.002, 0, -1.9, 0.6, 1, 0.009, 0},
    {5, "brixel", 250, true, 0.002, 0, -1.9, 0.3, 1, 0.009, 50},
    {5, "tolvane", 300, true, 0.002, 0, -1.9, 0.1, 1, 0.009, 100},
    {5, "marnix", 350, true, 0.002, 0, -1.9, -0.1, 1, 0.009, 150},
    {5, "kestrune", 400, true, 0.002, 0, -1.9, -0.3, 1, 0.009, 200},
    {5, "plovar", 450, true, 0.002, 0, -1.9, -0.6, 1, 0.009, 200},
};
// Scene 5's "greetings to..." row: passing its threshold also advances the greetings
// clock, before the row is drawn. (The `after` of the greetings rows is on t.)

// Scene 2's running letters: letter n of a line at x = 1 - v t + 0.17 n, alpha 1.
struct RunningLine {
    const char* text;
    double speed, y;
};
const RunningLine LETTERS[] = {
    {"behind the stars you can find a beautiful woman with golden wings...", 0.016, 0.1},
    {"little cat is running faster and faster, but will never reach the goal... :(", 0.019, -0.2},
    {"fly higher fly higher.. reach for the sky! dont look at the sun, or you become blind...",
     0.023, -0.5},
};
const double LETTER_PITCH = 0.17;

struct Print {
    std::string text;
    float x = 0, y = 0, alpha = 0;
    float color[3] = {0, 0, 0};
    bool rasterValid = false;
    float raster[4] = {0, 0, 0, 0};       // window position
    float rasterColor[4] = {0, 0, 0, 0};  // what the glyphs are drawn in
};

// ---------------------------------------------------------------------------------------
// Mesh draws: the state each solid and line overlay is drawn with.
struct DrawState {
    GLenum mode = 0;  // GL_TRIANGLES: solid; GL_LINES: overlay
    bool blend = false, lighting = false, cull = false, depth = false, texture = false,
         texGen = false, light0 = false;
    GLint src = 0, dst = 0, cullMode = 0, boundTexture = 0;
    float color[4]{}, ambient[4]{}, diffuse[4]{}, specular[4]{};
    float lightAmbient[4]{}, lightDiffuse[4]{}, lightPosition[4]{};
};
std::vector<DrawState> frameDraws;
bool recordingDraws = false;

}  // namespace

// Every scene's mesh drawing goes through glDrawElements (the test is linked with
// --wrap=glDrawElements): the state is read just before each draw.
extern "C" void __real_glDrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices);
extern "C" void __wrap_glDrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices) {
    if (recordingDraws) {
        DrawState s;
        s.mode = mode;
        s.blend = glIsEnabled(GL_BLEND);
        s.lighting = glIsEnabled(GL_LIGHTING);
        s.cull = glIsEnabled(GL_CULL_FACE);
        s.depth = glIsEnabled(GL_DEPTH_TEST);
        s.texture = glIsEnabled(GL_TEXTURE_2D);
        s.texGen = glIsEnabled(GL_TEXTURE_GEN_S) || glIsEnabled(GL_TEXTURE_GEN_T);
        s.light0 = glIsEnabled(GL_LIGHT0);
        glGetIntegerv(GL_BLEND_SRC, &s.src);
        glGetIntegerv(GL_BLEND_DST, &s.dst);
        glGetIntegerv(GL_CULL_FACE_MODE, &s.cullMode);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.boundTexture);
        glGetFloatv(GL_CURRENT_COLOR, s.color);
        glGetMaterialfv(GL_FRONT, GL_AMBIENT, s.ambient);
        glGetMaterialfv(GL_FRONT, GL_DIFFUSE, s.diffuse);
        glGetMaterialfv(GL_FRONT, GL_SPECULAR, s.specular);
        glGetLightfv(GL_LIGHT0, GL_AMBIENT, s.lightAmbient);
        glGetLightfv(GL_LIGHT0, GL_DIFFUSE, s.lightDiffuse);
        glGetLightfv(GL_LIGHT0, GL_POSITION, s.lightPosition);
        frameDraws.push_back(s);
    }
    __real_glDrawElements(mode, count, type, indices);
}

namespace {

// A look-at view matrix, column-major as GL keeps it.
struct Mat4 {
    double m[16];
};
Mat4 lookAt(const double eye[3], const double center[3], const double up[3]) {
    double f[3] = {center[0] - eye[0], center[1] - eye[1], center[2] - eye[2]};
    const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    for (double& v : f) v /= fl;
    double s[3] = {f[1] * up[2] - f[2] * up[1], f[2] * up[0] - f[0] * up[2], f[0] * up[1] - f[1] * up[0]};
    const double sl = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    for (double& v : s) v /= sl;
    const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
    Mat4 r{};
    for (int i = 0; i < 3; ++i) {
        r.m[4 * i + 0] = s[i];
        r.m[4 * i + 1] = u[i];
        r.m[4 * i + 2] = -f[i];
    }
    r.m[12] = -(s[0] * eye[0] + s[1] * eye[1] + s[2] * eye[2]);
    r.m[13] = -(u[0] * eye[0] + u[1] * eye[1] + u[2] * eye[2]);
    r.m[14] = f[0] * eye[0] + f[1] * eye[1] + f[2] * eye[2];
    r.m[15] = 1;
    return r;
}

// Each scene's camera, light and materials, at its clock t (after this frame's step).
struct SceneLook {
    double eye[3], center[3], up[3];
    bool lightBeforeCamera;  // the light's position is in eye coordinates
    double light[3], lightAmbient;
};
const SceneLook LOOKS[7] = {
    {{0, 0, 80}, {15, 0, 0}, {0, 1, 0}, true, {0, 100, 0}, 0.9},
    {{0, 0, 50}, {0, 0, 0}, {0, 1, 0}, false, {-50, 50, 0}, 1},
    {{0, 0, -200}, {0, 0, 0}, {0, 1, 0}, true, {100, 60, -200}, 0.9},  // eye and centre move
    {{0, 0, 100}, {-20, -40, 0}, {0, 1, 0}, false, {0, 0, 0}, 0},       // unlit
    {{0, 0, 80}, {0, 0, 0}, {0, 1, 0}, false, {0, 100, 0}, 1},         // eye z 280 past t 240
    {{0, 0, 50}, {0, 0, 0}, {0, 1, 0}, false, {20, 0, -20}, 1},
    {{0, 0, 30}, {0, 0, 0}, {0, 1, 0}, false, {0, 0, 0}, 0},  // no meshes
};

// What one draw should be: the solid or its overlay, with material (r, g, b) x factors.
struct ExpectedDraw {
    GLenum mode;
    bool lighting, cull, depth, texture;
    int bankIndex;  // texture bound (when texturing)
    double r, g, b, ambientFactor, diffuseFactor, specularFactor;  // when lit
    double colorAlpha;  // when unlit: the current colour (1, 1, 1, colorAlpha)
    GLint src, dst;     // overlay's blend function
};

// The pairs of draws (solid, overlay) a scene makes in one frame.
void expectedDraws(int scene, float t, bool firstFrame, std::vector<ExpectedDraw>& out) {
    out.clear();
    auto pair = [&](ExpectedDraw solid, GLint src = GL_SRC_ALPHA, GLint dst = GL_ONE) {
        solid.mode = GL_TRIANGLES;
        out.push_back(solid);
        solid.mode = GL_LINES;
        solid.depth = false;  // overlays are drawn without depth test
        solid.src = src;
        solid.dst = dst;
        out.push_back(solid);
    };
    switch (scene) {
        case 0: {
            // The room's overlay sets no blend function: GL's initial (ONE, ZERO) on the
            // very first frame, then the additive one the music sprite leaves.
            pair({0, true, true, true, true, tex3Id, 1, 1, 1, 1, 1, 1, 1, 0, 0},
                 firstFrame ? GL_ONE : GL_SRC_ALPHA, firstFrame ? GL_ZERO : GL_ONE);
            const double level = static_cast<float>(musicLevel * 10.0f);
            for (int k = 0; k < 8; ++k) pair({0, true, true, true, true, tex1Id, 1, 1, 1, level, 1, level, 1, 0, 0});
            break;
        }
        case 1: pair({0, true, false, false, true, tex3Id, 1, 1, 1, 1, 1, 1, 1, 0, 0}); break;
        case 2:
            for (int j = -4; j < 4; ++j)
                for (int i = -4; i < 4; ++i)
                    pair({0, true, true, false, true, tex1Id, static_cast<float>(1 - 0.2 * std::abs(i)),
                          static_cast<float>(0.4 + 0.1 * std::abs(j)), 1, 0.9, 1.5, 1, 1, 0, 0});
            break;
        case 3: pair({0, false, true, false, true, tex1Id, 1, 1, 1, 0, 0, 0, 0.3, 0, 0}); break;
        case 4: {
            const double s = static_cast<float>(std::sin(static_cast<float>(0.6 * t)));
            for (int a = 0; a < 5; ++a)
                for (int b = 0; b < 5; ++b)
                    for (int c = 0; c < 5; ++c) {
                        if (a > 0 && a < 4 && b > 0 && b < 4 && c > 0 && c < 4) continue;
                        const bool odd = (a + b + c) % 2 == 1;
                        const bool pink = t < 240 ? odd : !odd;
                        pair({0, true, true, true, true, tex3Id, pink ? 1 : 0.5, 0.5, 1,
                              0.2 * s + (t < 240 ? 0.8 : 0.3), 1, 1, 1, 0, 0});
                    }
            break;
        }
        // Binding a picture switches texturing on, also where the scene does not.
        case 5: pair({0, true, false, false, true, tex3Id, 1, 1, 1, 0, 1, 1, 1, 0, 0}); break;
        default: break;
    }
}

// ---------------------------------------------------------------------------------------
// The pass and what it found.
struct Moment {
    int64_t frame;
    std::string label;  // time and why
    bool picture;       // its reference picture is kept
};

struct Findings {
    std::vector<std::string> frames, references, captions, draws, cameras;
    std::vector<std::string> captionSummary;  // every caption's first and last moment on screen
    int64_t framesRendered = 0;
    double seconds = 0;
};
Findings found;

std::string sourceDir() { return VELMORA_SOURCE_DIR; }
std::string referenceDir() { return sourceDir() + "/tests/frames/reference"; }
std::string failureDir() { return VELMORA_FAILURE_DIR; }

std::string at(int64_t frame) {
    char s[64];
    std::snprintf(s, sizeof s, "%.2f s (frame %lld)", frameClockMs(frame, RATE) / 1000.0,
                  static_cast<long long>(frame));
    return s;
}

uint64_t hashPixels(const std::vector<uint8_t>& rgba) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        uint32_t v;
        std::memcpy(&v, &rgba[i], 4);
        h = (h ^ (v & 0xffffffu)) * 1099511628211ull;
    }
    return h;
}

bool readPng(const std::string& path, std::vector<uint8_t>& rgba) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGBA;
    if (png.width != W || png.height != H) {
        png_image_free(&png);
        return false;
    }
    rgba.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr) != 0;
}

bool savePng(const std::string& path, const std::vector<uint8_t>& rgba) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = W;
    png.height = H;
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(static_cast<size_t>(W) * H * 3);
    for (size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3) std::memcpy(&rgb[j], &rgba[i], 3);
    return png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

// Writes actual, reference and difference pictures; says where and how much differs.
std::string explainDifference(const std::string& name, const std::vector<uint8_t>& actual,
                              const std::vector<uint8_t>* reference) {
    fs::create_directories(failureDir());
    const std::string base = failureDir() + "/" + name;
    savePng(base + "-actual.png", actual);
    if (!reference) return "actual frame written to " + base + "-actual.png (no reference picture for this frame)";
    savePng(base + "-reference.png", *reference);
    // Differing pixels in red over a faint copy of the reference.
    std::vector<uint8_t> diff(actual.size());
    int count = 0, maxDelta = 0, x0 = W, y0 = H, x1 = -1, y1 = -1;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t i = (static_cast<size_t>(y) * W + x) * 4;
            int delta = 0;
            for (int c = 0; c < 3; ++c) delta = std::max(delta, std::abs(actual[i + c] - (*reference)[i + c]));
            const uint8_t grey = static_cast<uint8_t>(191 + ((*reference)[i] + (*reference)[i + 1]) / 8);
            diff[i] = delta ? 255 : grey;
            diff[i + 1] = delta ? 0 : grey;
            diff[i + 2] = delta ? 0 : grey;
            diff[i + 3] = 255;
            if (delta) {
                ++count;
                maxDelta = std::max(maxDelta, delta);
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
        }
    savePng(base + "-difference.png", diff);
    std::ostringstream s;
    s << count << " pixels differ (largest step " << maxDelta << "/255) within x " << x0 << ".." << x1 << ", y " << y0
      << ".." << y1 << " (from the top); see " << base << "-{actual,reference,difference}.png";
    return s.str();
}

// What the references depend on besides the code: the renderer, its Mesa release, the
// caption face fontconfig picks, and the MP3 decoder libmpg123 picks for this processor
// (its AVX, SSE and plain forms give samples that differ in the last bits, and with them
// the music level). Another of any of these draws other pixels through no fault of the
// demo's; the run is then skipped (exit 77), not failed. Needs the GL context current.
std::string renderingSetup() {
    std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));  // "llvmpipe (LLVM ...)"
    renderer = renderer.substr(0, renderer.find(' '));
    const std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));  // "... Mesa 22.3.6"
    const size_t mesa = version.find("Mesa ");
    const size_t minor = mesa == std::string::npos ? mesa : version.find('.', mesa);
    const std::string release = mesa == std::string::npos ? version : version.substr(mesa, version.find('.', minor + 1) - mesa);
    GlyphSource face;
    face.openFace("Times New Roman", true, 30);
    const std::string font = fs::path(face.filePath).filename().string();
    face.close();
    mpg123_init();
    const char* const* decoders = mpg123_supported_decoders();
    const std::string decoder = decoders && decoders[0] ? decoders[0] : "none";
    return renderer + ", " + release + ", font " + font + ", mpg123 " + decoder;
}

const char* const SETUP_LINE = "# drawn with: ";
std::string referenceSetup() {
    std::ifstream in(sourceDir() + "/tests/frames/frame_hashes.txt");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(SETUP_LINE, 0) == 0) return line.substr(std::strlen(SETUP_LINE));
    return "";
}

// 0 when this machine draws as the references were drawn; else says why and gives 77.
int skipOnOtherSetup() {
    const std::string here = renderingSetup(), there = referenceSetup();
    if (updating || there.empty() || here == there) return 0;
    std::printf("skipped: the reference frames were drawn with %s, this machine draws with %s "
                "(test_frames --update makes references for it)\n", there.c_str(), here.c_str());
    return 77;
}

std::vector<Moment> loadMoments() {
    std::vector<Moment> moments;
    std::ifstream in(sourceDir() + "/tests/frames/moments.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        double seconds = 0;
        if (std::sscanf(line.c_str() + 1, "%lf", &seconds) != 1) continue;
        moments.push_back({std::llround(seconds * RATE.num / RATE.den), line.substr(1), line[0] == '*'});
    }
    return moments;
}

// "frame_0251": a reference picture is <this>.png, a failure's <scene>-<this>-actual.png.
std::string frameStem(int64_t frame) {
    char s[32];
    std::snprintf(s, sizeof s, "frame_%04lld", static_cast<long long>(frame));
    return s;
}
std::string referenceName(int64_t frame) { return frameStem(frame) + ".png"; }

struct HashLine {
    int scene;
    uint64_t hash;
};
std::map<int64_t, HashLine> loadHashes() {
    std::map<int64_t, HashLine> hashes;
    std::ifstream in(sourceDir() + "/tests/frames/frame_hashes.txt");
    std::string line;
    while (std::getline(in, line)) {
        long long frame, ms;
        int scene;
        unsigned long long hash;
        if (line.empty() || line[0] == '#') continue;
        if (std::sscanf(line.c_str(), "%lld %lld %d %llx", &frame, &ms, &scene, &hash) == 4)
            hashes[frame] = {scene, hash};
    }
    return hashes;
}

// Captions recorded in the current frame.
std::vector<Print> framePrints;
Print pending;

void onTextPosition(float x, float y, float alpha, Color color) {
    pending = Print{};
    pending.x = x;
    pending.y = y;
    pending.alpha = alpha;
    pending.color[0] = color.r, pending.color[1] = color.g, pending.color[2] = color.b;
    GLboolean valid = GL_FALSE;
    glGetBooleanv(GL_CURRENT_RASTER_POSITION_VALID, &valid);
    pending.rasterValid = valid;
    glGetFloatv(GL_CURRENT_RASTER_POSITION, pending.raster);
    glGetFloatv(GL_CURRENT_RASTER_COLOR, pending.rasterColor);
}

void onTextPrint(const char* text) {
    pending.text = text;
    framePrints.push_back(pending);
}

// The captions a scene should issue in this frame, in order.
void expectedPrints(int scene, float t, float g, std::vector<Print>& out) {
    out.clear();
    auto add = [&](const char* text, double x, double y, double alpha) {
        Print p;
        p.text = text;
        p.x = static_cast<float>(x);
        p.y = static_cast<float>(y);
        p.alpha = static_cast<float>(alpha);
        out.push_back(p);
    };
    if (scene == 2) {
        for (const RunningLine& line : LETTERS)
            for (int n = 0; line.text[n]; ++n) {
                const char letter[2] = {line.text[n], 0};
                add(letter, 1 - line.speed * t + LETTER_PITCH * n, line.y, 1);
            }
        return;
    }
    for (const CaptionRow& row : CAPTIONS) {
        if (row.scene != scene || !(t > row.after)) continue;
        const double c = row.greetings ? g : t;
        add(row.text, row.xBase + row.xSlope * static_cast<float>(c - row.xFrom), row.y,
            row.a0 - row.aSlope * static_cast<float>(c - row.aFrom));
    }
}

// Where a text-plane anchor lands in the window (depth 1, 120 degrees, 4:3).
void windowPosition(double x, double y, double& column, double& row) {
    const double f = 1 / std::tan(M_PI / 3);
    column = 320 * (1 + f / (4.0 / 3.0) * x);
    row = 240 * (1 + f * y);
}

struct CaptionSpan {
    int scene;
    int64_t first = -1, last = -1;  // frames on screen
    float x = 0, y = 0;             // anchor when first on screen
};

void checkPrints(int scene, int64_t frame, const std::vector<Print>& expected, std::map<std::string, int>& reported,
                 std::map<std::string, CaptionSpan>& spans) {
    auto report = [&](const std::string& key, const std::string& message) {
        if (reported[key]++ < 3) found.captions.push_back("scene " + std::to_string(scene) + " at " + at(frame) + ": " + message);
    };
    const size_t n = std::max(expected.size(), framePrints.size());
    for (size_t i = 0; i < n; ++i) {
        const Print* e = i < expected.size() ? &expected[i] : nullptr;
        const Print* a = i < framePrints.size() ? &framePrints[i] : nullptr;
        char text[512];
        if (!a) {
            std::snprintf(text, sizeof text, "\"%s\" not drawn (expected at x %.4f y %.4f alpha %.4f)",
                          e->text.c_str(), e->x, e->y, e->alpha);
            report(e->text + "missing", text);
            continue;
        }
        if (a->rasterValid && a->rasterColor[3] > 0) {
            CaptionSpan& span = spans[std::to_string(scene) + " \"" + a->text + "\""];
            span.scene = scene;
            if (span.first < 0) span.first = frame, span.x = a->x, span.y = a->y;
            span.last = frame;
        }
        if (!e) {
            std::snprintf(text, sizeof text, "\"%s\" drawn at x %.4f y %.4f alpha %.4f, not expected", a->text.c_str(),
                          a->x, a->y, a->alpha);
            report(a->text + "extra", text);
            continue;
        }
        if (a->text != e->text) {
            std::snprintf(text, sizeof text, "caption %zu reads \"%s\", expected \"%s\"", i + 1, a->text.c_str(),
                          e->text.c_str());
            report(e->text + "text", text);
            continue;
        }
        const bool black = a->color[0] == 0 && a->color[1] == 0 && a->color[2] == 0;
        if (std::fabs(a->x - e->x) > 1e-4f || std::fabs(a->y - e->y) > 1e-4f || std::fabs(a->alpha - e->alpha) > 1e-4f ||
            !black) {
            std::snprintf(text, sizeof text,
                          "\"%s\" at x %.4f y %.4f alpha %.4f colour %.2f %.2f %.2f, expected x %.4f y %.4f alpha "
                          "%.4f black",
                          a->text.c_str(), a->x, a->y, a->alpha, a->color[0], a->color[1], a->color[2], e->x, e->y,
                          e->alpha);
            report(e->text + "place", text);
            continue;
        }
        // What GL makes of it: the anchor's pixel, and the colour the glyphs get (the
        // caption's black at its alpha, not a lit colour).
        double column, row;
        windowPosition(e->x, e->y, column, row);
        const bool inside = column > 0.5 && column < W - 0.5 && row > 0.5 && row < H - 0.5;
        const bool outside = column < -0.5 || column > W + 0.5 || row < -0.5 || row > H + 0.5;
        if ((inside && !a->rasterValid) || (outside && a->rasterValid)) {
            std::snprintf(text, sizeof text, "\"%s\" %s on screen, expected %s (window %.1f, %.1f)", e->text.c_str(),
                          a->rasterValid ? "placed" : "not placed", inside ? "placed" : "not", column, row);
            report(e->text + "valid", text);
            continue;
        }
        if (!a->rasterValid) continue;
        // GL may keep the raster colour's alpha unclamped; blending clamps it.
        const float alpha = std::min(1.0f, std::max(0.0f, e->alpha));
        const bool alphaOk = std::fabs(a->rasterColor[3] - alpha) < 1e-3f || std::fabs(a->rasterColor[3] - e->alpha) < 1e-3f;
        if (std::fabs(a->raster[0] - column) > 0.05 || std::fabs(a->raster[1] - row) > 0.05 || !alphaOk ||
            a->rasterColor[0] > 1e-3f || a->rasterColor[1] > 1e-3f || a->rasterColor[2] > 1e-3f) {
            std::snprintf(text, sizeof text,
                          "\"%s\" drawn at window (%.2f, %.2f) in colour %.3f %.3f %.3f %.3f, expected (%.2f, %.2f) "
                          "in black at %.3f",
                          e->text.c_str(), a->raster[0], a->raster[1], a->rasterColor[0], a->rasterColor[1],
                          a->rasterColor[2], a->rasterColor[3], column, row, alpha);
            report(e->text + "raster", text);
        }
    }
}

bool near4(const float* a, double r, double g, double b, double w) {
    const double e[4] = {r, g, b, w};
    for (int i = 0; i < 4; ++i)
        if (std::fabs(a[i] - e[i]) > 1e-4 * std::max(1.0, std::fabs(e[i]))) return false;
    return true;
}

std::string four(const float* v) {
    char s[96];
    std::snprintf(s, sizeof s, "(%.4g, %.4g, %.4g, %.4g)", v[0], v[1], v[2], v[3]);
    return s;
}

void checkDraws(int scene, int64_t frame, float t, bool firstFrame, const Mat4& view, std::map<std::string, int>& reported) {
    std::vector<ExpectedDraw> expected;
    expectedDraws(scene, t, firstFrame, expected);
    auto report = [&](const std::string& what, const std::string& message) {
        if (reported[std::to_string(scene) + what]++ < 3)
            found.draws.push_back("scene " + std::to_string(scene) + " at " + at(frame) + ": " + message);
    };
    if (expected.size() != frameDraws.size()) {
        report("count", std::to_string(frameDraws.size()) + " mesh draws, expected " + std::to_string(expected.size()));
        return;
    }
    const SceneLook& look = LOOKS[scene];
    double light[4] = {look.light[0], look.light[1], look.light[2], 1};
    if (!look.lightBeforeCamera)
        for (int i = 0; i < 3; ++i)
            light[i] = view.m[i] * look.light[0] + view.m[4 + i] * look.light[1] + view.m[8 + i] * look.light[2] +
                       view.m[12 + i];
    for (size_t k = 0; k < expected.size(); ++k) {
        const ExpectedDraw& e = expected[k];
        const DrawState& a = frameDraws[k];
        const std::string which = std::string(e.mode == GL_LINES ? "overlay" : "solid") + " of draw " +
                                  std::to_string(k / 2 + 1) + ": ";
        std::ostringstream bad;
        if (a.mode != e.mode) bad << "mode " << a.mode << " expected " << e.mode << "; ";
        if (a.blend != (e.mode == GL_LINES)) bad << "blending " << (a.blend ? "on" : "off") << "; ";
        if (e.mode == GL_LINES && (a.src != e.src || a.dst != e.dst))
            bad << "blend function 0x" << std::hex << a.src << ", 0x" << a.dst << " expected 0x" << e.src << ", 0x"
                << e.dst << std::dec << "; ";
        if (a.lighting != e.lighting) bad << "lighting " << (a.lighting ? "on" : "off") << "; ";
        if (a.cull != e.cull) bad << "culling " << (a.cull ? "on" : "off") << "; ";
        if (a.cull && a.cullMode != GL_BACK) bad << "cull mode 0x" << std::hex << a.cullMode << std::dec << "; ";
        if (a.depth != e.depth) bad << "depth test " << (a.depth ? "on" : "off") << "; ";
        if (a.texture != e.texture) bad << "texturing " << (a.texture ? "on" : "off") << "; ";
        if (a.texGen) bad << "sphere map on; ";
        if (e.texture && a.boundTexture != static_cast<GLint>(textureBank->glNames[e.bankIndex]))
            bad << "texture " << a.boundTexture << " bound, expected bank entry " << e.bankIndex << "; ";
        if (!e.lighting && !near4(a.color, 1, 1, 1, e.colorAlpha))
            bad << "colour " << four(a.color) << " expected (1, 1, 1, " << e.colorAlpha << "); ";
        if (e.lighting) {
            const double f[3] = {e.ambientFactor, e.diffuseFactor, e.specularFactor};
            const float* m[3] = {a.ambient, a.diffuse, a.specular};
            const char* names[3] = {"ambient", "diffuse", "specular"};
            for (int i = 0; i < 3; ++i)
                if (!near4(m[i], e.r * f[i], e.g * f[i], e.b * f[i], 1))
                    bad << "material " << names[i] << " " << four(m[i]) << " expected (" << e.r * f[i] << ", "
                        << e.g * f[i] << ", " << e.b * f[i] << ", 1); ";
            if (!a.light0) bad << "light 0 off; ";
            if (!near4(a.lightAmbient, look.lightAmbient, look.lightAmbient, look.lightAmbient, 1))
                bad << "light ambient " << four(a.lightAmbient) << " expected " << look.lightAmbient << "; ";
            if (!near4(a.lightDiffuse, 1, 1, 1, 1)) bad << "light diffuse " << four(a.lightDiffuse) << "; ";
            if (std::fabs(a.lightPosition[0] - light[0]) > 1e-2 || std::fabs(a.lightPosition[1] - light[1]) > 1e-2 ||
                std::fabs(a.lightPosition[2] - light[2]) > 1e-2 || a.lightPosition[3] != 1)
                bad << "light at " << four(a.lightPosition) << " in eye space, expected (" << light[0] << ", "
                    << light[1] << ", " << light[2] << ", 1); ";
        }
        if (!bad.str().empty()) {
            report(std::to_string(k % 2) + bad.str().substr(0, 12), which + bad.str());
        }
    }
}

// The demo's start-up as the capture tool does it: pictures decoded on a thread, hidden
// window, virtual clock, the start-up work with its warm-up, the music loaded offline.
uint64_t virtualNowMs = 0;
uint64_t virtualClockMs() { return virtualNowMs; }

bool startDemo() {
    if (chdir(VELMORA_DATA_DIR) != 0) return false;
    prefetchStartupTextures();
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32, WindowKind::Hidden)) return false;
    clockSource = virtualClockMs;
    virtualNowMs = 0;
    showWindowWhile(prepareDemo);
    std::string reason;
    if (!loadCaptureMusic(&reason)) return false;
    startClocks();
    return true;
}

void runPass() {
    if (updating) lastFrame = -1;
    // Pictures of an earlier failure would pass for this run's.
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(failureDir(), none))
        if (entry.path().filename().string().rfind("scene", 0) == 0) fs::remove(entry.path(), none);
    const std::vector<Moment> moments = loadMoments();
    std::map<int64_t, const Moment*> momentAt;
    for (const Moment& m : moments)
        if (m.picture) momentAt[m.frame] = &m;
    const std::map<int64_t, HashLine> hashes = updating ? std::map<int64_t, HashLine>{} : loadHashes();
    if (!updating && hashes.empty()) found.frames.push_back("no tests/frames/frame_hashes.txt: run test_frames --update");
    std::ofstream hashOut;
    if (updating) {
        hashOut.open(sourceDir() + "/tests/frames/frame_hashes.txt");
        hashOut << SETUP_LINE << renderingSetup() << "\n";
        hashOut << "# frame  clock_ms  scene  hash of the RGB pixels (written by test_frames --update)\n";
        fs::remove_all(referenceDir());
        fs::create_directories(referenceDir());
    }

    textObserver = TextObserver{onTextPosition, onTextPrint};
    std::vector<uint8_t> pixels(static_cast<size_t>(W) * H * 4);
    float clocks[7] = {0}, greetings = 0, cameraPhase = 0;
    int64_t sceneFirstFrame[7] = {-1, -1, -1, -1, -1, -1, -1};
    std::map<int, int> frameFailures;  // per scene
    std::map<std::string, int> captionReports, drawReports;
    std::map<std::string, CaptionSpan> spans;
    std::vector<Print> expected;
    const auto start = std::chrono::steady_clock::now();

    for (int64_t n = 0; !quitRequested && (lastFrame < 0 || n <= lastFrame); ++n) {
        virtualNowMs = static_cast<uint64_t>(frameClockMs(n, RATE));
        listenAt(frameAudioStart(n, RATE, CAPTURE_AUDIO_RATE));
        const int scene = sceneIndex;
        if (sceneFirstFrame[scene] < 0) sceneFirstFrame[scene] = n;
        framePrints.clear();
        frameDraws.clear();
        recordingDraws = !plain;
        plainDrawing = plain;
        renderFrame();
        recordingDraws = false;
        readRenderTarget(pixels.data());
        for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;  // the screen shows no alpha
        ++found.framesRendered;

        // The test's own clocks, from the frame clock alone.
        const float step = n == 0 ? 0.0f : static_cast<float>(frameClockMs(n, RATE) - frameClockMs(n - 1, RATE)) / 50.0f;
        const float t = clocks[scene] += step;
        if (scene == 5 && t > 200) greetings += step;
        if (scene == 2) cameraPhase += musicLevel * step * 16.0f;

        // Pixels.
        const uint64_t hash = hashPixels(pixels);
        if (updating) {
            hashOut << n << ' ' << virtualNowMs << ' ' << scene << ' ' << std::hex << hash << std::dec << '\n';
            if (momentAt.count(n)) savePng(referenceDir() + "/" + referenceName(n), pixels);
        } else {
            auto h = hashes.find(n);
            if (h != hashes.end() && h->second.scene != scene)
                found.frames.push_back("at " + at(n) + " scene " + std::to_string(scene) + " is shown, the reference shows scene " +
                                       std::to_string(h->second.scene));
            if (h == hashes.end() || h->second.hash != hash) {
                // The first in each scene; a moment with a picture is explained below.
                if (h != hashes.end() && frameFailures[scene]++ == 0)
                    found.frames.push_back("scene " + std::to_string(scene) + ": first frame that differs at " + at(n) +
                                           (momentAt.count(n) ? " (a reference moment, see below)"
                                                              : ": " + explainDifference("scene" + std::to_string(scene) + "-" + frameStem(n),
                                                                                         pixels, nullptr)));
            }
            if (momentAt.count(n)) {
                std::vector<uint8_t> reference;
                if (!readPng(referenceDir() + "/" + referenceName(n), reference))
                    found.references.push_back("no reference picture " + referenceName(n) + " for " + momentAt[n]->label);
                else if (reference != pixels)
                    found.references.push_back("scene " + std::to_string(scene) + " at " + at(n) + " [" +
                                               momentAt[n]->label + "]: " +
                                               explainDifference("scene" + std::to_string(scene) + "-" + frameStem(n),
                                                                 pixels, &reference));
            }
        }

        // Captions.
        expectedPrints(scene, t, greetings, expected);
        if (scene == 0 || scene == 6) expected.clear();
        checkPrints(scene, n, expected, captionReports, spans);

        // Camera (the modelview a frame leaves is its camera's view) and mesh state.
        double eye[3] = {LOOKS[scene].eye[0], LOOKS[scene].eye[1], LOOKS[scene].eye[2]};
        double center[3] = {LOOKS[scene].center[0], LOOKS[scene].center[1], LOOKS[scene].center[2]};
        if (scene == 2) {
            const float p = cameraPhase;
            eye[0] = 200.0f * static_cast<float>(std::cos(static_cast<float>(0.1 * p)));
            eye[1] = 50.0f * static_cast<float>(std::sin(static_cast<float>(0.5 * p))) - 200.0f;
            eye[2] = 200.0f * static_cast<float>(std::sin(static_cast<float>(0.1 * p)));
            center[0] = 300.0f * static_cast<float>(std::cos(static_cast<float>(0.1 * p)));
            center[1] = 10.0f * static_cast<float>(std::sin(static_cast<float>(0.5 * p))) - 90.0f;
        }
        if (scene == 4 && t > 240) eye[2] = 280;
        const Mat4 view = lookAt(eye, center, LOOKS[scene].up);
        float modelview[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
        for (int i = 0; i < 16; ++i)
            if (std::fabs(modelview[i] - view.m[i]) > 1e-3 * std::max(1.0, std::fabs(view.m[i]))) {
                if (drawReports["camera" + std::to_string(scene)]++ < 3) {
                    std::ostringstream s;
                    s << "scene " << scene << " at " << at(n) << ": view matrix element " << i << " is " << modelview[i]
                      << ", expected " << view.m[i] << " (eye " << eye[0] << ", " << eye[1] << ", " << eye[2]
                      << "; centre " << center[0] << ", " << center[1] << ", " << center[2] << ")";
                    found.cameras.push_back(s.str());
                }
                break;
            }
        if (!plain) checkDraws(scene, n, t, n == 0, view, drawReports);
    }
    textObserver = TextObserver{nullptr, nullptr};
    found.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    for (const auto& f : frameFailures)
        found.frames.push_back("scene " + std::to_string(f.first) + ": " + std::to_string(f.second) +
                               " frames differ from their hashes");
    if (!updating && lastFrame < 0 && static_cast<int64_t>(hashes.size()) != found.framesRendered)
        found.frames.push_back("the run has " + std::to_string(found.framesRendered) + " frames, the reference " +
                               std::to_string(hashes.size()));
    for (const auto& s : spans) {
        char line[256];
        std::snprintf(line, sizeof line, "scene %s on screen %.2f s .. %.2f s, first at x %.3f y %.3f",
                      s.first.c_str(), frameClockMs(s.second.first, RATE) / 1000.0,
                      frameClockMs(s.second.last, RATE) / 1000.0, s.second.x, s.second.y);
        if (s.second.scene != 2) found.captionSummary.push_back(line);  // the letters are too many to list
    }
    for (int s = 0; s < 7 && lastFrame < 0; ++s)
        if (sceneFirstFrame[s] < 0) found.frames.push_back("scene " + std::to_string(s) + " was never shown");
}

class Run : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool ran = false;
        if (ran) return;
        ran = true;
        runPass();
        closeDisplay();
        std::printf("%lld frames in %.1f s\n", static_cast<long long>(found.framesRendered), found.seconds);
    }
};

void expectNone(const std::vector<std::string>& messages) {
    for (const std::string& m : messages) ADD_FAILURE() << m;
}

TEST_F(Run, EveryFrameMatchesTheReferenceHashes) { expectNone(found.frames); }
TEST_F(Run, ReferenceMomentsMatchTheirPictures) { expectNone(found.references); }
TEST_F(Run, CaptionsAndRunningLettersAsWritten) {
    for (const std::string& line : found.captionSummary) std::printf("  %s\n", line.c_str());
    expectNone(found.captions);
}
TEST_F(Run, MeshesDrawnWithTheirStateMaterialAndLight) { expectNone(found.draws); }
TEST_F(Run, CamerasFollowTheirPaths) { expectNone(found.cameras); }

// --compare DIR: the capture tool's own PNG frames (frame_NNNNNN.png, 20 fps) against
// the reference pictures of the moments they include. Exit status 1 on any difference.
int compareCapture(const std::string& dir) {
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32, WindowKind::Hidden)) return 1;
    const int skip = skipOnOtherSetup();
    closeDisplay();
    if (skip) return skip;
    int compared = 0, failed = 0;
    for (const Moment& m : loadMoments()) {
        if (!m.picture) continue;
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%06lld.png", static_cast<long long>(m.frame));
        std::vector<uint8_t> actual, reference;
        if (!readPng(dir + name, actual)) continue;
        ++compared;
        if (!readPng(referenceDir() + "/" + referenceName(m.frame), reference)) {
            std::printf("no reference picture for %s\n", m.label.c_str());
            ++failed;
        } else if (actual != reference) {
            std::printf("velmora-capture at %s [%s]: %s\n", at(m.frame).c_str(), m.label.c_str(),
                        explainDifference("capture-" + frameStem(m.frame), actual, &reference).c_str());
            ++failed;
        }
    }
    std::printf("%d of %d captured moments match their reference pictures\n", compared - failed, compared);
    return compared > 0 && failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Headless by default, as under ctest.
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--update") == 0) updating = true;
        if (std::strcmp(argv[i], "--plain") == 0) plain = true;
        if (std::strcmp(argv[i], "--until") == 0 && i + 1 < argc && !updating)
            lastFrame = std::llround(std::atof(argv[i + 1]) * RATE.num / RATE.den);
        if (std::strcmp(argv[i], "--compare") == 0 && i + 1 < argc) return compareCapture(argv[i + 1]);
    }
    if (!startDemo()) {
        std::printf("the demo could not start (display, data or music)\n");
        return 1;
    }
    if (const int skip = skipOnOtherSetup()) return skip;
    return RUN_ALL_TESTS();
}

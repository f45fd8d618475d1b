// The capture run. The demo's start-up (loadDemo) and frame composition (renderFrame) run
// unchanged; only the clock (a virtual one, stepped per frame), the sound (decoded
// offline, heard at each frame's position) and the presentation (read-back instead of a
// swap) differ from the demo's main routine.
#include "tools/capture/capture.h"

#include <SDL2/SDL.h>
#define GL_GLEXT_PROTOTYPES 0
#include <GL/gl.h>
#include <GL/glext.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/demo.h"
#include "app/display.h"
#include "app/timeline.h"
#include "tools/capture/benchmark.h"
#include "tools/capture/capture_music.h"
#include "tools/capture/contact_sheet.h"
#include "tools/capture/frame_png.h"
#include "tools/capture/progress.h"
#include "tools/capture/video_encoder.h"
#include "tools/common/canvas.h"

namespace {

using Clock = std::chrono::steady_clock;

uint64_t virtualNowMs = 0;  // what the demo's clock reads during the current frame, ms
uint64_t virtualClockMs() { return virtualNowMs; }

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int) {
    stopRequested = 1;
    static const char message[] =
        "\nvelmora-capture: stopping; finishing what was captured (Ctrl-C again to abort)\n";
    ssize_t ignored = write(2, message, sizeof message - 1);
    (void)ignored;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a dead ffmpeg shows as a write error instead
}

int failRun(const std::string& message) {
    std::fprintf(stderr, "velmora-capture: %s\n", message.c_str());
    return 1;
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Output paths are taken relative to where the tool was started, before --data moves it.
std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    return std::filesystem::absolute(path).lexically_normal().string();
}

bool parentExists(const std::string& path, std::string* error, const char* option) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (parent.empty() || std::filesystem::is_directory(parent, ec)) return true;
    *error = std::string(option) + " " + path + ": folder " + parent.string() + " does not exist";
    return false;
}

// The scaled copy of the render target that --scale reads back. The entry points are
// not part of the GL 1.1 ABI, so they are fetched at run time.
struct Scaler {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
    PFNGLBLITFRAMEBUFFERPROC blitFramebuffer = nullptr;
    GLuint framebuffer = 0, color = 0;
    int width = 0, height = 0;
    GLenum filter = GL_NEAREST;
};

template <typename F>
bool loadProc(F& f, const char* name) {
    f = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    return f != nullptr;
}

// Leaves: the render target bound again as read and draw framebuffer; no renderbuffer bound.
bool createScaler(Scaler& s, int width, int height, double scale) {
    if (!loadProc(s.genFramebuffers, "glGenFramebuffers") || !loadProc(s.bindFramebuffer, "glBindFramebuffer") ||
        !loadProc(s.genRenderbuffers, "glGenRenderbuffers") ||
        !loadProc(s.bindRenderbuffer, "glBindRenderbuffer") ||
        !loadProc(s.renderbufferStorage, "glRenderbufferStorage") ||
        !loadProc(s.framebufferRenderbuffer, "glFramebufferRenderbuffer") ||
        !loadProc(s.checkFramebufferStatus, "glCheckFramebufferStatus") ||
        !loadProc(s.blitFramebuffer, "glBlitFramebuffer"))
        return false;
    s.width = width;
    s.height = height;
    // Whole factors keep every pixel sharp; others are smoothed as on a screen of that size.
    s.filter = scale == static_cast<int>(scale) ? GL_NEAREST : GL_LINEAR;
    s.genFramebuffers(1, &s.framebuffer);
    s.bindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    s.genRenderbuffers(1, &s.color);
    s.bindRenderbuffer(GL_RENDERBUFFER, s.color);
    s.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    s.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, s.color);
    const bool complete = s.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    s.bindRenderbuffer(GL_RENDERBUFFER, 0);
    s.bindFramebuffer(GL_FRAMEBUFFER, renderTargetFramebuffer());
    return complete;
}

// Reads the bound read framebuffer (width x height) into `rgba` with rows from the top and
// alpha forced opaque: the screen shows no alpha, so neither does a captured frame.
// Leaves: GL_PACK_ALIGNMENT 1.
void readPixels(int width, int height, std::vector<uint8_t>& bottomUp, std::vector<uint8_t>& rgba) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = &bottomUp[(height - 1 - y) * row];
        uint8_t* dst = &rgba[y * row];
        std::copy_n(src, row, dst);
        for (size_t x = 3; x < row; x += 4) dst[x] = 255;
    }
}

// Blits the render target into the scaler and reads that.
// Leaves: the render target bound again as read and draw framebuffer; GL_PACK_ALIGNMENT 1.
void readScaled(Scaler& s, std::vector<uint8_t>& bottomUp, std::vector<uint8_t>& rgba) {
    s.bindFramebuffer(GL_DRAW_FRAMEBUFFER, s.framebuffer);
    s.blitFramebuffer(0, 0, screenWidth, screenHeight, 0, 0, s.width, s.height, GL_COLOR_BUFFER_BIT, s.filter);
    s.bindFramebuffer(GL_READ_FRAMEBUFFER, s.framebuffer);
    readPixels(s.width, s.height, bottomUp, rgba);
    s.bindFramebuffer(GL_FRAMEBUFFER, renderTargetFramebuffer());
}

std::string pngName(const std::string& dir, int64_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06lld.png", static_cast<long long>(frame));
    return dir + name;
}

}  // namespace

int runCapture(const CaptureOptions& given) {
    CaptureOptions o = given;
    o.pngDir = absolutePath(o.pngDir);
    o.videoFile = absolutePath(o.videoFile);
    o.contactSheet = absolutePath(o.contactSheet);
    o.plotFile = absolutePath(o.plotFile);
    o.logFile = absolutePath(o.logFile);

    std::string error;
    if (!o.videoFile.empty() && !findOnPath("ffmpeg"))
        return failRun("--video needs the ffmpeg program, which is not on PATH (Debian package ffmpeg)");
    if ((!o.videoFile.empty() && !parentExists(o.videoFile, &error, "--video")) ||
        (!o.contactSheet.empty() && !parentExists(o.contactSheet, &error, "--contact-sheet")) ||
        (o.benchmark && !parentExists(o.plotFile, &error, "--plot")) ||
        (!o.logFile.empty() && !parentExists(o.logFile, &error, "--log")))
        return failRun(error);
    if (!o.pngDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.pngDir, ec);
        if (!std::filesystem::is_directory(o.pngDir))
            return failRun("--png " + o.pngDir + ": cannot make this folder" + (ec ? ": " + ec.message() : ""));
    }
    if (!o.dataDir.empty() && chdir(o.dataDir.c_str()) != 0)
        return failRun("--data " + o.dataDir + ": no such folder");

    // Which frames go where. Frame n is written when its start lies in [from, to).
    const FrameRate fps = o.fps;
    const double fpsValue = static_cast<double>(fps.num) / static_cast<double>(fps.den);
    const int64_t demoEndMs = static_cast<int64_t>(sceneTimeline[SCENE_COUNT - 1].endMs);
    const int64_t demoLastFrame = firstFrameAfterMs(demoEndMs, fps);
    const int64_t spanFirst = firstFrameFrom(o.fromUs, fps);
    const int64_t spanLast = o.toUs < 0 ? demoLastFrame : std::min(demoLastFrame, firstFrameFrom(o.toUs, fps) - 1);
    std::vector<int64_t> atFrames;
    for (int64_t t : o.atUs) atFrames.push_back(std::min(frameShownAt(t, fps), demoLastFrame));
    std::sort(atFrames.begin(), atFrames.end());
    atFrames.erase(std::unique(atFrames.begin(), atFrames.end()), atFrames.end());
    const bool pngSpan = !o.pngDir.empty() && atFrames.empty();

    ContactSheet sheet;
    if (!o.contactSheet.empty()) {
        const int64_t toUs = o.toUs < 0 ? demoEndMs * 1000 : std::min(o.toUs, demoEndMs * 1000);
        planContactSheet(sheet, o.sheetCount, o.fromUs, toUs, fps,
                         "velmora, " + formatSeconds(o.fromUs / 1e6, 1) + " to " + formatSeconds(toUs / 1e6, 1) +
                             " s, one frame every " + formatSeconds((toUs - o.fromUs) / 1e6 / o.sheetCount, 2) +
                             " s (" + std::to_string(o.sheetCount) + " thumbnails)");
    }
    int64_t lastNeeded = -1;
    if (pngSpan || !o.videoFile.empty() || o.benchmark) lastNeeded = spanLast;
    if (!atFrames.empty()) lastNeeded = std::max(lastNeeded, atFrames.back());
    lastNeeded = std::max(lastNeeded, lastSheetFrame(sheet));

    // The demo's start-up, on a hidden window with the virtual clock.
    const Clock::time_point startUp = Clock::now();
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32, WindowKind::Hidden))
        return failRun("no OpenGL context (see the line above)");
    clockSource = virtualClockMs;
    virtualNowMs = 0;
    loadDemo();
    std::string musicReason;
    const bool haveMusic = loadCaptureMusic(&musicReason);
    if (!haveMusic && !o.benchmark)
        std::fprintf(stderr, "velmora-capture: %s; capturing the silent demo\n", musicReason.c_str());
    startClocks();
    const double startUpSeconds = secondsSince(startUp);
    const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));

    Scaler scaler;
    const bool scaled = o.outputWidth != screenWidth || o.outputHeight != screenHeight;
    if (scaled && !createScaler(scaler, o.outputWidth, o.outputHeight, o.scale)) {
        closeDisplay();
        return failRun("--scale: cannot make a " + std::to_string(o.outputWidth) + " x " +
                       std::to_string(o.outputHeight) + " framebuffer");
    }

    // Every buffer the frames need, before the first frame.
    const size_t baseBytes = static_cast<size_t>(screenWidth) * screenHeight * 4;
    const size_t outBytes = static_cast<size_t>(o.outputWidth) * o.outputHeight * 4;
    std::vector<uint8_t> baseBottomUp(baseBytes), base(baseBytes);
    std::vector<uint8_t> outBottomUp(scaled ? outBytes : 0), out(scaled ? outBytes : 0);
    BenchmarkLog bench;
    if (o.benchmark) reserveBenchmark(bench, lastNeeded + 1);

    std::FILE* log = nullptr;
    if (!o.logFile.empty()) {
        log = std::fopen(o.logFile.c_str(), "w");
        if (!log) {
            closeDisplay();
            return failRun("--log " + o.logFile + ": cannot write this file");
        }
        std::fprintf(log, "# frame\tclock_ms\tscene\tmusic_level\n");
    }

    installStopHandlers();
    VideoEncoder video;
    if (!o.videoFile.empty()) {
        VideoSettings vs;
        vs.path = o.videoFile;
        vs.width = o.outputWidth;
        vs.height = o.outputHeight;
        vs.fps = fps;
        vs.codec = o.codec;
        vs.crf = o.crf;
        vs.preset = o.preset;
        vs.audioRate = CAPTURE_AUDIO_RATE;
        vs.audioChannels = soundtrackChannels();
        if (!startVideo(video, vs, &error)) {
            closeDisplay();
            return failRun(error);
        }
    }

    Progress progress;
    startProgress(progress, lastNeeded + 1, fpsValue);
    double renderSeconds = 0, readSeconds = 0, writeSeconds = 0;
    int64_t pngWritten = 0, videoFirst = -1, videoEnd = -1, rendered = 0;
    size_t nextAt = 0;
    bool failed = false;
    const Clock::time_point loopStart = Clock::now();

    for (int64_t n = 0; n <= lastNeeded && !stopRequested; ++n) {
        virtualNowMs = static_cast<uint64_t>(frameClockMs(n, fps));
        listenAt(frameAudioStart(n, fps, CAPTURE_AUDIO_RATE));
        const int scene = sceneIndex;
        const Clock::time_point t0 = Clock::now();
        renderFrame();
        glFinish();  // so that the render time is the frame's own, not the read-back's
        const Clock::time_point t1 = Clock::now();
        renderSeconds += std::chrono::duration<double>(t1 - t0).count();
        rendered = n + 1;
        if (o.benchmark) {
            bench.demoSeconds.push_back(static_cast<float>(virtualNowMs / 1000.0));
            bench.frameMs.push_back(static_cast<float>(std::chrono::duration<double, std::milli>(t1 - t0).count()));
            bench.scene.push_back(static_cast<int8_t>(scene));
        }
        if (log) std::fprintf(log, "%lld\t%llu\t%d\t%.6f\n", static_cast<long long>(n),
                              static_cast<unsigned long long>(virtualNowMs), scene, musicLevel);

        const bool inSpan = n >= spanFirst && n <= spanLast;
        const bool atFrame = nextAt < atFrames.size() && atFrames[nextAt] == n;
        const bool toPng = pngSpan ? inSpan : atFrame;
        const bool toVideo = video.pid > 0 && inSpan;
        const bool toSheet = sheetWants(sheet, n);
        if (toPng || toVideo || toSheet) {
            readPixels(screenWidth, screenHeight, baseBottomUp, base);
            if (scaled && (toPng || toVideo)) readScaled(scaler, outBottomUp, out);
            const std::vector<uint8_t>& picture = scaled ? out : base;
            const Clock::time_point t2 = Clock::now();
            readSeconds += std::chrono::duration<double>(t2 - t1).count();
            if (toSheet) addToSheet(sheet, n, scene, base.data(), screenWidth, screenHeight);
            if (toPng) {
                const std::string path = pngName(o.pngDir, n);
                if (!writeFramePng(path, o.outputWidth, o.outputHeight, picture.data(), &error)) {
                    error = path + ": " + error;
                    failed = true;
                    break;
                }
                ++pngWritten;
                if (atFrame) {
                    std::printf("%s  clock %llu ms  scene %d\n", path.c_str(),
                                static_cast<unsigned long long>(virtualNowMs), scene);
                    ++nextAt;
                }
            }
            if (toVideo) {
                if (!writeVideoFrame(video, picture.data(), &error)) {
                    failed = true;
                    break;
                }
                if (videoFirst < 0) videoFirst = n;
                videoEnd = n + 1;
            }
            writeSeconds += secondsSince(t2);
        }
        showProgress(progress, n + 1);
        if (quitRequested) break;  // the demo's own end: its last frame is drawn and written
    }
    endProgress(progress);
    const bool interrupted = stopRequested != 0;
    const double loopSeconds = secondsSince(loopStart);
    if (log) std::fclose(log);

    // Finishing: the video's sound and mux, the sheet, the benchmark report.
    const Clock::time_point finishStart = Clock::now();
    if (video.pid > 0) {
        if (failed || videoFirst < 0) {
            abandonVideo(video);
            if (!failed) std::fprintf(stderr, "velmora-capture: no frame captured; no video written\n");
        } else {
            const int64_t audioFirst = frameAudioStart(videoFirst, fps, CAPTURE_AUDIO_RATE);
            const int64_t audioEnd = frameAudioStart(videoEnd, fps, CAPTURE_AUDIO_RATE);
            if (!finishVideo(video, audioFirst, audioEnd - audioFirst, soundtrackSamples, &error)) {
                failed = true;
            } else {
                std::fprintf(stderr, "velmora-capture: wrote %s: %lld frames, %s s with sound\n",
                             o.videoFile.c_str(), static_cast<long long>(videoEnd - videoFirst),
                             formatSeconds((videoEnd - videoFirst) / fpsValue, 3).c_str());
            }
        }
    }
    if (!failed && !o.contactSheet.empty()) {
        if (!writePng(o.contactSheet, sheet.canvas.width, sheet.canvas.height, sheet.canvas.rgba.data(), &error)) {
            error = o.contactSheet + ": " + error;
            failed = true;
        } else {
            std::fprintf(stderr, "velmora-capture: wrote %s (%zu of %zu thumbnails)\n", o.contactSheet.c_str(),
                         sheet.next, sheet.frames.size());
        }
    }
    if (!failed && !o.pngDir.empty())
        std::fprintf(stderr, "velmora-capture: wrote %lld PNG frames to %s\n", static_cast<long long>(pngWritten),
                     o.pngDir.c_str());
    if (!failed && nextAt < atFrames.size() && !interrupted) {
        error = "--at: the demo ended before frame " + std::to_string(atFrames[nextAt]);
        failed = true;
    }
    if (!failed && o.benchmark) {
        printBenchmarkTable(stdout, bench, fpsValue);
        char subtitle[256];
        std::snprintf(subtitle, sizeof subtitle, "%d x %d at %.3g fps, every frame rendered and finished; renderer: %s",
                      screenWidth, screenHeight, fpsValue, renderer.c_str());
        if (!writeBenchmarkPlot(o.plotFile, bench, fpsValue, subtitle, &error)) {
            error = o.plotFile + ": " + error;
            failed = true;
        } else {
            std::fprintf(stderr, "velmora-capture: wrote %s\n", o.plotFile.c_str());
        }
    }
    const double finishSeconds = secondsSince(finishStart);
    closeDisplay();

    // Where the time went.
    const double demoSeconds = rendered / fpsValue;
    const double total = loopSeconds + finishSeconds;
    std::fprintf(stderr,
                 "velmora-capture: %lld frames (%.1f s of demo) in %.1f s: %.1f fps, %.2fx real time; "
                 "start-up %.2f s\n"
                 "  render %.1f s, read-back %.1f s, encode and write %.1f s, finishing %.1f s",
                 static_cast<long long>(rendered), demoSeconds, total, total > 0 ? rendered / total : 0.0,
                 total > 0 ? demoSeconds / total : 0.0, startUpSeconds, renderSeconds, readSeconds, writeSeconds,
                 finishSeconds);
    if (!o.videoFile.empty()) std::fprintf(stderr, "; ffmpeg used %.1f s of CPU", video.encoderCpuSeconds);
    std::fprintf(stderr, "\n");

    if (failed) return failRun(error);
    return interrupted ? 130 : 0;
}

// The capture run. The demo's start-up (loadDemo) and frame composition (renderFrame) run
// unchanged; only the clock (a virtual one, stepped per frame), the sound (decoded
// offline, heard at each frame's position) and the presentation (read-back instead of a
// swap) differ from the demo's main routine.
#include "tools/capture/capture.h"

#include <GL/gl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/data_folder.h"
#include "app/demo.h"
#include "app/display.h"
#include "app/timeline.h"
#include "texture/texture_bank.h"
#include "tools/capture/benchmark.h"
#include "tools/capture/capture_music.h"
#include "tools/capture/contact_sheet.h"
#include "tools/capture/progress.h"
#include "tools/capture/video_encoder.h"
#include "tools/common/canvas.h"
#include "tools/common/output_file.h"
#include "tools/common/png_file.h"

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
    // No SA_RESTART: a write blocked on an ffmpeg that stopped reading must return, so
    // that one signal always ends the run. A second Ctrl-C ends the program at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // a closed terminal: finish the files, not leave temporaries
    signal(SIGPIPE, SIG_IGN);  // a dead ffmpeg shows as a write error instead
    signal(SIGXFSZ, SIG_IGN);  // so does a file-size limit: a failed write, not a dead tool
}

int failRun(const std::string& message) {
    std::fprintf(stderr, "velmora-capture: %s\n", message.c_str());
    return 1;
}

// Processor time of every thread of the process (the renderer's own included), ms.
double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Output paths are taken relative to where the tool was started, before --data moves it.
std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

bool parentExists(const std::string& path, std::string* error, const char* option) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (parent.empty() || std::filesystem::is_directory(parent, ec)) return true;
    *error = std::string(option) + " " + path + ": folder " + parent.string() + " does not exist";
    return false;
}

// The screen shows no alpha, so neither does a captured frame.
void makeOpaque(std::vector<uint8_t>& rgba) {
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
}

std::string pngName(const std::string& dir, int64_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06lld.png", static_cast<long long>(frame));
    return dir + name;
}

// Which frames go where. Frame n is written when its start lies in [from, to).
struct FramePlan {
    int64_t spanFirst = 0;          // first and last frame for --png (without --at) and --video
    int64_t spanLast = -1;
    std::vector<int64_t> atFrames;  // --at frames, ascending, each once
    bool pngSpan = false;           // --png writes the span (no --at)
    int64_t lastNeeded = -1;        // the last frame any output needs
};

// What one capture holds from start-up to the report.
struct CaptureRun {
    CaptureOptions o;
    FramePlan plan;
    double fps = 60.0;
    ContactSheet sheet;
    bool scaled = false;
    std::vector<uint8_t> base;  // the render target (640 x 480 unless --render), read back
    std::vector<uint8_t> out;   // the scaled copy, when --scale asks for one
    BenchmarkLog bench;
    OutputFile log;  // --log, open while the frames run
    VideoEncoder video;
    std::string renderer;
    int64_t rendered = 0, pngWritten = 0;
    int64_t videoFirst = -1, videoEnd = -1;  // frames sent to the video: [first, end)
    size_t nextAt = 0;                       // the first --at frame not yet written
    // Where the time went, s.
    double startUp = 0, render = 0, readBack = 0, write = 0, loop = 0, finish = 0;
};

// Paths made absolute (--data moves the working folder), folders checked, ffmpeg found.
bool prepareOutputs(CaptureOptions& o, std::string* error) {
    o.pngDir = absolutePath(o.pngDir);
    o.videoFile = absolutePath(o.videoFile);
    o.contactSheet = absolutePath(o.contactSheet);
    o.plotFile = absolutePath(o.plotFile);
    o.logFile = absolutePath(o.logFile);
    for (const char* program : {"ffmpeg", "ffprobe"})
        if (!o.videoFile.empty() && !findOnPath(program)) {
            *error = std::string("--video needs the ") + program +
                     " program, which is not on PATH (Debian package ffmpeg)";
            return false;
        }
    if ((!o.videoFile.empty() && !parentExists(o.videoFile, error, "--video")) ||
        (!o.contactSheet.empty() && !parentExists(o.contactSheet, error, "--contact-sheet")) ||
        (o.benchmark && !parentExists(o.plotFile, error, "--plot")) ||
        (!o.logFile.empty() && !parentExists(o.logFile, error, "--log")))
        return false;
    if (!o.pngDir.empty()) {
        std::error_code made, probed;
        std::filesystem::create_directories(o.pngDir, made);
        if (!std::filesystem::is_directory(o.pngDir, probed)) {
            *error = "--png " + o.pngDir + ": cannot make this folder" + (made ? ": " + made.message() : "");
            return false;
        }
    }
    // Every output is tried before the render, so that none is refused only at its end.
    const struct {
        const char* option;
        std::string path;
    } outputs[] = {{"--png", o.pngDir.empty() ? "" : pngName(o.pngDir, 0)},
                   {"--video", o.videoFile},
                   {"--contact-sheet", o.contactSheet},
                   {"--plot", o.benchmark ? o.plotFile : ""},
                   {"--log", o.logFile}};
    for (const auto& output : outputs) {
        std::string why;
        if (!output.path.empty() && !probeOutput(output.path, &why)) {
            *error = std::string(output.option) + " " + output.path + ": cannot write this file: " + why;
            return false;
        }
    }
    if (!o.dataDir.empty() && chdir(o.dataDir.c_str()) != 0) {
        *error = "--data " + o.dataDir + ": no such folder";
        return false;
    }
    if (o.dataDir.empty()) {
        // The demo's own choice: the working folder's assets, else the installed ones.
        std::error_code unknown;
        const std::string here = std::filesystem::current_path(unknown).string();
        const std::string used = enterDataFolder("velmora-capture");
        if (used != here)
            std::fprintf(stderr, "velmora-capture: no music.mp3 or textures/ here; using the data in %s\n",
                         used.c_str());
    }
    return true;
}

void planFrames(CaptureRun& run) {
    const CaptureOptions& o = run.o;
    FramePlan& plan = run.plan;
    const int64_t demoEndMs = static_cast<int64_t>(sceneTimeline[SCENE_COUNT - 1].endMs);
    const int64_t demoLastFrame = firstFrameAfterMs(demoEndMs, o.fps);
    plan.spanFirst = firstFrameFrom(o.fromUs, o.fps);
    plan.spanLast = o.toUs < 0 ? demoLastFrame : std::min(demoLastFrame, firstFrameFrom(o.toUs, o.fps) - 1);
    for (int64_t t : o.atUs) plan.atFrames.push_back(std::min(frameShownAt(t, o.fps), demoLastFrame));
    std::sort(plan.atFrames.begin(), plan.atFrames.end());
    plan.atFrames.erase(std::unique(plan.atFrames.begin(), plan.atFrames.end()), plan.atFrames.end());
    plan.pngSpan = !o.pngDir.empty() && plan.atFrames.empty();

    if (!o.contactSheet.empty()) {
        const int64_t toUs = o.toUs < 0 ? demoEndMs * 1000 : std::min(o.toUs, demoEndMs * 1000);
        planContactSheet(run.sheet, o.sheetCount, o.fromUs, toUs, o.fps,
                         "velmora, " + formatSeconds(o.fromUs / 1e6, 1) + " to " + formatSeconds(toUs / 1e6, 1) +
                             " s, one frame every " + formatSeconds((toUs - o.fromUs) / 1e6 / o.sheetCount, 2) +
                             " s (" + std::to_string(o.sheetCount) + " thumbnails)");
    }
    if (plan.pngSpan || !o.videoFile.empty() || o.benchmark) plan.lastNeeded = plan.spanLast;
    if (!plan.atFrames.empty()) plan.lastNeeded = std::max(plan.lastNeeded, plan.atFrames.back());
    plan.lastNeeded = std::max(plan.lastNeeded, lastSheetFrame(run.sheet));
}

// The demo's start-up on a hidden window with the virtual clock, then every buffer and
// output the frames need. On failure the display is closed again.
bool startCapture(CaptureRun& run, std::string* error) {
    const CaptureOptions& o = run.o;
    const Clock::time_point begin = Clock::now();
    // As the demo does, the pictures are decoded on a thread of their own meanwhile.
    prefetchStartupTextures();
    renderRequest.native = false;
    renderRequest.scale = o.renderScale;
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32, WindowKind::Hidden)) {
        *error = "no OpenGL context (see the line above)";
        return false;
    }
    clockSource = virtualClockMs;
    virtualNowMs = 0;
    // The demo's own start-up, hand-over to a start-up thread and warm-up included.
    showWindowWhile(prepareDemo);
    std::string musicReason;
    if (!loadCaptureMusic(&musicReason) && !o.benchmark)
        std::fprintf(stderr, "velmora-capture: %s; capturing the silent demo\n", musicReason.c_str());
    startClocks();
    run.startUp = secondsSince(begin);
    run.renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));

    run.scaled = o.outputWidth != renderWidth || o.outputHeight != renderHeight;
    const size_t baseBytes = static_cast<size_t>(renderWidth) * renderHeight * 4;
    const size_t outBytes = run.scaled ? static_cast<size_t>(o.outputWidth) * o.outputHeight * 4 : 0;
    run.base.resize(baseBytes);
    run.out.resize(outBytes);
    // A first scaled read makes the scaled copy's framebuffer before any frame counts.
    if (run.scaled && !readRenderTarget(run.out.data(), o.outputWidth, o.outputHeight)) {
        *error = "--scale: cannot make a " + std::to_string(o.outputWidth) + " x " + std::to_string(o.outputHeight) +
                 " framebuffer";
        closeDisplay();
        return false;
    }
    if (o.benchmark) reserveBenchmark(run.bench, run.plan.lastNeeded + 1);

    if (!o.logFile.empty()) {
        std::string why;
        if (!openOutput(run.log, o.logFile, &why)) {
            *error = "--log " + o.logFile + ": cannot write this file: " + why;
            closeDisplay();
            return false;
        }
        std::fprintf(run.log.file, "# frame\tclock_ms\tscene\tmusic_level\n");
    }

    installStopHandlers();
    if (!o.videoFile.empty()) {
        VideoSettings vs;
        vs.path = o.videoFile;
        vs.width = o.outputWidth;
        vs.height = o.outputHeight;
        vs.fps = o.fps;
        vs.codec = o.codec;
        vs.crf = o.crf;
        vs.preset = o.preset;
        vs.audioRate = CAPTURE_AUDIO_RATE;
        vs.audioChannels = soundtrackChannels();
        vs.stop = &stopRequested;
        if (!startVideo(run.video, vs, error)) {
            discardOutput(run.log);
            closeDisplay();
            return false;
        }
    }
    return true;
}

// Reads frame n back and hands it to every output that wants it.
bool writeFrame(CaptureRun& run, int64_t n, int scene, std::string* error) {
    const FramePlan& plan = run.plan;
    const bool inSpan = n >= plan.spanFirst && n <= plan.spanLast;
    const bool atFrame = run.nextAt < plan.atFrames.size() && plan.atFrames[run.nextAt] == n;
    const bool toPng = plan.pngSpan ? inSpan : atFrame;
    const bool toVideo = run.video.pid > 0 && inSpan;
    const bool toSheet = sheetWants(run.sheet, n);
    if (!toPng && !toVideo && !toSheet) return true;

    const Clock::time_point t0 = Clock::now();
    readRenderTarget(run.base.data());
    makeOpaque(run.base);
    if (run.scaled && (toPng || toVideo)) {
        readRenderTarget(run.out.data(), run.o.outputWidth, run.o.outputHeight);
        makeOpaque(run.out);
    }
    const std::vector<uint8_t>& picture = run.scaled ? run.out : run.base;
    const Clock::time_point t1 = Clock::now();
    run.readBack += std::chrono::duration<double>(t1 - t0).count();

    if (toSheet) addToSheet(run.sheet, n, scene, run.base.data(), renderWidth, renderHeight);
    if (toPng) {
        const std::string path = pngName(run.o.pngDir, n);
        if (!writePng(path, run.o.outputWidth, run.o.outputHeight, picture.data(), error)) {
            *error = path + ": " + *error;
            return false;
        }
        ++run.pngWritten;
        if (atFrame) {
            std::printf("%s  clock %llu ms  scene %d\n", path.c_str(), static_cast<unsigned long long>(virtualNowMs),
                        scene);
            ++run.nextAt;
        }
    }
    if (toVideo) {
        if (!writeVideoFrame(run.video, picture.data(), error)) return false;
        if (run.videoFirst < 0) run.videoFirst = n;
        run.videoEnd = n + 1;
    }
    run.write += secondsSince(t1);
    return true;
}

// The frame loop: the demo's frames from the first, on the virtual clock, until the last
// frame an output needs, the demo's own end, or a stop signal.
bool captureFrames(CaptureRun& run, std::string* error) {
    const FrameRate fps = run.o.fps;
    Progress progress;
    startProgress(progress, run.plan.lastNeeded + 1, run.fps);
    const Clock::time_point begin = Clock::now();
    bool ok = true;
    for (int64_t n = 0; n <= run.plan.lastNeeded && !stopRequested; ++n) {
        virtualNowMs = static_cast<uint64_t>(frameClockMs(n, fps));
        listenAt(frameAudioStart(n, fps, CAPTURE_AUDIO_RATE));
        const int scene = sceneIndex;
        const double cpu0 = processCpuMs();
        const Clock::time_point t0 = Clock::now();
        renderFrame();
        glFinish();  // so that the render time is the frame's own, not the read-back's
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        const double cpuMs = processCpuMs() - cpu0;
        run.render += ms / 1000.0;
        run.rendered = n + 1;
        if (run.o.benchmark) {
            run.bench.demoSeconds.push_back(static_cast<float>(virtualNowMs / 1000.0));
            run.bench.frameMs.push_back(static_cast<float>(ms));
            run.bench.cpuMs.push_back(static_cast<float>(cpuMs));
            run.bench.scene.push_back(static_cast<int8_t>(scene));
        }
        if (run.log.file &&
            std::fprintf(run.log.file, "%lld\t%llu\t%d\t%.6f\n", static_cast<long long>(n),
                         static_cast<unsigned long long>(virtualNowMs), scene, musicLevel) < 0) {
            *error = "--log " + run.o.logFile + ": cannot write: " + std::strerror(errno);
            ok = false;
            break;
        }
        if (!writeFrame(run, n, scene, error)) {
            ok = false;
            break;
        }
        showProgress(progress, n + 1);
        if (quitRequested) break;  // the demo's own end: its last frame is drawn and written
    }
    endProgress(progress);
    if (run.log.file) {
        std::string why;
        if (!ok)
            discardOutput(run.log);
        else if (!commitOutput(run.log, &why)) {
            *error = "--log " + run.o.logFile + ": " + why;
            ok = false;
        }
    }
    run.loop = secondsSince(begin);
    return ok;
}

// The video's sound and mux, the contact sheet, the benchmark report. `ok` false: the
// frames failed, and only the video's part file is cleaned up.
bool finishOutputs(CaptureRun& run, bool ok, std::string* error) {
    const CaptureOptions& o = run.o;
    const Clock::time_point begin = Clock::now();
    if (run.video.pid > 0) {
        if (!ok || run.videoFirst < 0) {
            abandonVideo(run.video);
            if (ok) std::fprintf(stderr, "velmora-capture: no frame captured; no video written\n");
        } else {
            const int64_t audioFirst = frameAudioStart(run.videoFirst, o.fps, CAPTURE_AUDIO_RATE);
            const int64_t audioEnd = frameAudioStart(run.videoEnd, o.fps, CAPTURE_AUDIO_RATE);
            ok = finishVideo(run.video, audioFirst, audioEnd - audioFirst, soundtrackSamples, error);
            if (ok)
                std::fprintf(stderr, "velmora-capture: wrote %s: %lld frames, %s s with sound\n", o.videoFile.c_str(),
                             static_cast<long long>(run.videoEnd - run.videoFirst),
                             formatSeconds((run.videoEnd - run.videoFirst) / run.fps, 3).c_str());
        }
    }
    if (ok && !o.contactSheet.empty()) {
        const Canvas& c = run.sheet.canvas;
        ok = writePng(o.contactSheet, c.width, c.height, c.rgba.data(), error);
        if (ok)
            std::fprintf(stderr, "velmora-capture: wrote %s (%zu of %zu thumbnails)\n", o.contactSheet.c_str(),
                         run.sheet.next, run.sheet.frames.size());
        else
            *error = o.contactSheet + ": " + *error;
    }
    if (ok && !o.pngDir.empty())
        std::fprintf(stderr, "velmora-capture: wrote %lld PNG frames to %s\n", static_cast<long long>(run.pngWritten),
                     o.pngDir.c_str());
    if (ok && run.nextAt < run.plan.atFrames.size() && !stopRequested) {
        *error = "--at: the demo ended before frame " + std::to_string(run.plan.atFrames[run.nextAt]);
        ok = false;
    }
    if (ok && o.benchmark) {
        printBenchmarkTable(stdout, run.bench, run.fps);
        char subtitle[256];
        std::snprintf(subtitle, sizeof subtitle, "%d x %d at %.3g fps, every frame rendered and finished; renderer: %s",
                      renderWidth, renderHeight, run.fps, run.renderer.c_str());
        ok = writeBenchmarkPlot(o.plotFile, run.bench, run.fps, subtitle, error);
        if (ok)
            std::fprintf(stderr, "velmora-capture: wrote %s\n", o.plotFile.c_str());
        else
            *error = o.plotFile + ": " + *error;
    }
    run.finish = secondsSince(begin);
    return ok;
}

void reportTimings(const CaptureRun& run) {
    const double demoSeconds = run.rendered / run.fps;
    const double total = run.loop + run.finish;
    std::fprintf(stderr,
                 "velmora-capture: %lld frames (%.1f s of demo) in %.1f s: %.1f fps, %.2fx real time; "
                 "start-up %.2f s\n"
                 "  render %.1f s, read-back %.1f s, encode and write %.1f s, finishing %.1f s",
                 static_cast<long long>(run.rendered), demoSeconds, total, total > 0 ? run.rendered / total : 0.0,
                 total > 0 ? demoSeconds / total : 0.0, run.startUp, run.render, run.readBack, run.write, run.finish);
    if (!run.o.videoFile.empty()) std::fprintf(stderr, "; ffmpeg used %.1f s of CPU", run.video.encoderCpuSeconds);
    std::fprintf(stderr, "\n");
}

}  // namespace

int runCapture(const CaptureOptions& options) {
    CaptureRun run;
    run.o = options;
    run.fps = static_cast<double>(options.fps.num) / static_cast<double>(options.fps.den);
    std::string error;
    if (!prepareOutputs(run.o, &error)) return failRun(error);
    planFrames(run);
    if (!startCapture(run, &error)) return failRun(error);
    const bool framesOk = captureFrames(run, &error);
    const bool ok = finishOutputs(run, framesOk, &error) && framesOk;
    closeDisplay();
    reportTimings(run);
    if (!ok) return failRun(error);
    return stopRequested ? 130 : 0;
}

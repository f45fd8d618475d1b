// Start-up, the frame loop and shutdown, in the demo's fixed order.
#include "app/demo.h"

#include <GL/gl.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <cstring>

#include "app/frame_lead.h"
#include "app/timeline.h"
#include "audio/music_player.h"
#include "audio/sound_device.h"
#include "render/bitmap_font.h"
#include "render/overlay.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"

bool loopPlayback = false;
bool playbackPaused = false;

namespace {
Sprite letterboxBar;

// From a frame's music level to its presentation, over the recent frames of the frame
// loop: the level is taken for the moment the frame is seen. Stays empty (no look-ahead)
// outside the frame loop, in the warm-up and in the capture tool's frames.
FrameLead frameLead;

// With VELMORA_FRAME_LOG naming a file, one line per presented frame, for measuring the
// picture against the sound (tools/av-sync.sh): presentation time (ns, the sound
// layer's clock), music level, heard frame at presentation, newest hand-over frame and
// its time (ns), the output's latency (frames, soundLatencyFrames), demoTimeMs; on the
// stepped clock also the frame's checksum (16 hex digits). Off when unset. Each line is one write, so the run may be ended at any
// time. The log never holds the frames up: it is opened and written without waiting (a
// named pipe with no reader, or one that stops reading, is not waited for), and the
// first failed write ends the log with one line saying why; the run then goes on and
// ends with status 1, since whoever asked for the log has lost it.
int frameLogFd = -1;
const char* frameLogPath = nullptr;
bool frameLogFailed = false;

void failFrameLog(const char* why) {
    std::fprintf(stderr, "velmora: %s: cannot write the frame log: %s%s\n", frameLogPath, why,
                 frameLogFd >= 0 ? "; logging stopped" : "");
    if (frameLogFd >= 0) close(frameLogFd);
    frameLogFd = -1;
    frameLogFailed = true;
}

// One whole line (under PIPE_BUF, so a pipe takes it whole or not at all).
void writeFrameLogLine(const char* line, int length) {
    const ssize_t n = write(frameLogFd, line, static_cast<size_t>(length));
    if (n == length) return;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        failFrameLog("the reader does not keep up");
    else
        failFrameLog(n < 0 ? std::strerror(errno) : "short write");
}

// With VELMORA_DEBUG_FRAME_MS set to N (1..10000), a debugging clock: the demo's clock
// stands at 0 for the first frame and moves on N ms after each frame presented, however
// long the frame took. The frames are then the same on every run (the music does not
// follow; run silent), and the frame log can carry their checksums.
int64_t steppedClockStepMs = 0;  // 0: the platform clock
uint64_t steppedClockNowMs = 0;
std::vector<uint8_t> checksumPixels;  // one render target's read-back, made before the first frame

uint64_t steppedClock() { return steppedClockNowMs; }

// With VELMORA_DEBUG_PAUSE_MS set to T (0..144000), playback pauses by itself once the
// first frame at or past demo time T is shown: on the stepped clock, the same still
// picture on every run, for screenshots. -1: no such pause.
int64_t pauseAtDemoMs = -1;

// A debugging variable's milliseconds in low..high; -1 where unset, or (with one line on
// stderr saying what happens instead) not such a number.
long debugMs(const char* name, long low, long high, const char* otherwise) {
    const char* text = std::getenv(name);
    if (!text || !*text) return -1;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms < low || ms > high) {
        std::fprintf(stderr, "velmora: %s=%s: not %ld..%ld ms; %s\n", name, text, low, high, otherwise);
        return -1;
    }
    return ms;
}

void chooseSteppedClock() {
    pauseAtDemoMs = debugMs("VELMORA_DEBUG_PAUSE_MS", 0, 144000, "no pause");
    const long step = debugMs("VELMORA_DEBUG_FRAME_MS", 1, 10000, "the clock stays real");
    if (step < 0) return;
    steppedClockStepMs = step;
    steppedClockNowMs = 0;
    clockSource = steppedClock;
    startClocks();
    checksumPixels.resize(static_cast<size_t>(renderWidth) * renderHeight * 4);
}

// With VELMORA_DEBUG_FRAME_TIMES=1, where each frame's time goes: the loop waits for GL
// after drawing the scene and after the scaled copy, so that the frame log can add the
// scene index and the microseconds of drawing, scaling and presenting (the swap). The
// waits cost a little overlap, so leave it off when measuring the frame rate alone.
bool frameTimesLogged = false;
struct FrameTimes {
    int64_t drawNs = 0, scaleNs = 0, presentNs = 0;
};
FrameTimes lastFrameTimes;

// FNV-1a over the render target's pixels.
uint64_t frameChecksum() {
    readRenderTarget(checksumPixels.data());
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t byte : checksumPixels) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

void openFrameLog() {
    const char* path = std::getenv("VELMORA_FRAME_LOG");
    if (!path || !*path) return;
    const char* times = std::getenv("VELMORA_DEBUG_FRAME_TIMES");
    frameTimesLogged = times && std::strcmp(times, "1") == 0;
    frameLogPath = path;
    // A reader that goes away shows as a failed write, not as the end of the program.
    signal(SIGPIPE, SIG_IGN);
    frameLogFd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (frameLogFd < 0) {
        failFrameLog(errno == ENXIO ? "no process reads this named pipe" : std::strerror(errno));
        return;
    }
    char line[160];
    const int n = std::snprintf(line, sizeof line, "# driver %s buffer %d latency %d\n", soundDriverName(),
                                soundBufferFrames(), soundLatencyFrames());
    writeFrameLogLine(line, std::min(n, static_cast<int>(sizeof line) - 1));
}

void logFrame() {
    const int64_t presentedNs = soundClockNs();
    const int64_t heard = soundDeviceOpen() && musicPlayer.playingSlot >= 0 ? heardFrame() : 0;
    const SoundHandOver handOver = lastHandOver();
    char line[192];
    int n = std::snprintf(line, sizeof line, "%lld %.6f %lld %lld %lld %d %.0f", static_cast<long long>(presentedNs),
                          musicLevel, static_cast<long long>(heard), static_cast<long long>(handOver.frame),
                          static_cast<long long>(handOver.timeNs), soundLatencyFrames(), demoTimeMs);
    n = std::min(n, static_cast<int>(sizeof line) - 80);
    if (steppedClockStepMs > 0)
        n += std::snprintf(line + n, sizeof line - size_t(n), " %016llx",
                           static_cast<unsigned long long>(frameChecksum()));
    if (frameTimesLogged)
        n += std::snprintf(line + n, sizeof line - size_t(n), " %d %lld %lld %lld", sceneIndex,
                           static_cast<long long>(lastFrameTimes.drawNs / 1000),
                           static_cast<long long>(lastFrameTimes.scaleNs / 1000),
                           static_cast<long long>(lastFrameTimes.presentNs / 1000));
    line[n++] = '\n';
    writeFrameLogLine(line, n);
}

void closeFrameLog() {
    if (frameLogFd >= 0 && close(frameLogFd) != 0) {
        frameLogFd = -1;
        failFrameLog(std::strerror(errno));
    }
    frameLogFd = -1;
}

void renderScene(int index) {
    switch (index) {
        case 0: renderScene0(); break;
        case 1: renderScene1(); break;
        case 2: renderScene2(); break;
        case 3: renderScene3(); break;
        case 4: renderScene4(); break;
        case 5: renderScene5(); break;
        case 6: renderScene6(); break;
        default: break;
    }
}
}  // namespace

void windowProc(const WindowMessage& message) {
    switch (message.kind) {
        case WindowMessageKind::CloseRequest:
            destroyMainWindow();
            quitRequested = true;
            break;
        case WindowMessageKind::KeyDown:
            if (message.key == 27) quitRequested = true;
            if (message.key == ' ') setPlaybackPaused(!playbackPaused);
            break;
        case WindowMessageKind::ToggleFullscreen:
            setFullscreen(!isFullscreen());
            break;
        default:
            break;
    }
}

void prefetchAssets() {
    prefetchStartupTextures();
    musicPlayer.prefetchStream(0, "music.mp3");
}

void loadDemo() {
    textureBank = new TextureBank();
    loadStartupTextures();

    // Leaves: clear colour transparent black, culling off.
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glDisable(GL_CULL_FACE);
    blankFrame();

    setupScene2();
    setupScene0();
    setupScene1();
    setupScene3();
    setupScene4();
    setupScene5();
    setupScene6();

    // Leaves: smoothed lines for the rest of the run.
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glEnable(GL_LINE_SMOOTH);

    textFont.createFont(30);
}

void warmUpFirstFrame() {
    // Leaves: every GL setting, the three matrices and the client arrays as they were
    // found, and the timeline's values; only the render target holds the unseen picture.
    GLint matrixMode = 0;
    GLfloat modelview[16], projection[16], texture[16];
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_TEXTURE_MATRIX, texture);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    const float step = frameStep, timeMs = demoTimeMs, level = musicLevel;
    // A zero step leaves the scene's own clock where it is.
    frameStep = 0.0f;
    demoTimeMs = 0.0f;
    drawFrame();
    frameStep = step;
    demoTimeMs = timeMs;
    musicLevel = level;
    glPopClientAttrib();
    glPopAttrib();
    glMatrixMode(GL_TEXTURE);
    glLoadMatrixf(texture);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(modelview);
    glMatrixMode(static_cast<GLenum>(matrixMode));
}

void prepareDemo() {
    loadDemo();
    warmUpFirstFrame();
}

void startMusic() {
    musicPlayer.initMusic();
    musicPlayer.loadStream(0, "music.mp3");
    musicPlayer.playStream(0, 0);
}

void setPlaybackPaused(bool paused) {
    if (paused == playbackPaused) return;
    playbackPaused = paused;
    if (paused) {
        pauseClocks();
        musicPlayer.pauseStream(0, true);
    } else {
        // As at start-up: the music goes on first, then the clocks.
        musicPlayer.pauseStream(0, false);
        resumeClocks();
    }
}

void startNextPass() {
    restartScene0();
    restartScene1();
    restartScene2();
    restartScene3();
    restartScene4();
    restartScene5();
    restartScene6();
    sceneIndex = 0;
    quitRequested = false;
    frameStep = 0.0f;
    demoTimeMs = 0.0f;
    musicLevel = 0.0f;
    // Leaves: GL's initial blend function, with which the first frame draws scene 0's
    // room lines (opaque, once); every later frame finds the sprites' (SRC_ALPHA, ONE).
    glBlendFunc(GL_ONE, GL_ZERO);
    musicPlayer.playStream(0, 0);
    startClocks();
}

void drawLetterbox() {
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    overlay.begin2D();
    letterboxBar.x = 0.0f;
    letterboxBar.y = 0.95f;
    letterboxBar.alphaBlend = true;
    letterboxBar.color = {0.0f, 0.0f, 0.0f, 0.0f};
    letterboxBar.textured = false;
    letterboxBar.sizeX = 1.0f;
    letterboxBar.sizeY = 0.1f;
    letterboxBar.angle = 0.0f;
    letterboxBar.repeatU = 0.0f;
    letterboxBar.drawSprite(1.0f);
    letterboxBar.y = -0.95f;
    letterboxBar.drawSprite(1.0f);
    overlay.end2D();
}

void renderFrame() {
    advanceFrameClock();
    drawFrame();
}

void drawFrame() {
    musicLevel = computeMusicLevel(musicPlayer.spectrumAhead(frameLead.estimateNs()));

    // Leaves: clear colour opaque white, identity modelview.
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    renderScene(sceneIndex);
    drawLetterbox();
}

void runFrameLoop() {
    chooseSteppedClock();
    openFrameLog();
    while (!quitRequested) {
        // Paused, nothing is drawn: wait for the next event instead of turning.
        const WindowMessage message = playbackPaused ? waitWindowMessage() : pollWindowMessage();
        if (message.kind == WindowMessageKind::Quit) {
            quitRequested = true;
            break;
        }
        if (message.kind != WindowMessageKind::None) {
            windowProc(message);
            // The render target still holds the last frame: show it again where the window
            // may have lost or changed its picture.
            if (playbackPaused && !quitRequested && message.kind != WindowMessageKind::KeyDown)
                presentFrame();
            continue;
        }
        if (playbackPaused) continue;  // the wait ran out: wait again
        const int64_t drawnFromNs = soundClockNs();
        renderFrame();
        if (frameTimesLogged) {
            glFinish();  // Leaves: every command so far executed.
            const int64_t drawnNs = soundClockNs();
            scaleIntoWindow();
            glFinish();
            const int64_t scaledNs = soundClockNs();
            swapWindow();
            lastFrameTimes = {drawnNs - drawnFromNs, scaledNs - drawnNs, soundClockNs() - scaledNs};
        } else {
            presentFrame();
        }
        frameLead.addFrame(soundClockNs() - drawnFromNs);
        if (frameLogFd >= 0) logFrame();
        steppedClockNowMs += static_cast<uint64_t>(steppedClockStepMs);
        if (pauseAtDemoMs >= 0 && demoTimeMs >= static_cast<double>(pauseAtDemoMs)) {
            pauseAtDemoMs = -1;
            setPlaybackPaused(true);
        }
        // Only the last scene's end asks to quit from inside a frame.
        if (quitRequested && loopPlayback) startNextPass();
    }
    closeFrameLog();
}

bool frameLogLost() { return frameLogFailed; }

void shutdownDemo() {
    musicPlayer.stopStream(0);
    musicPlayer.closeMusic();
    closeDisplay();
}

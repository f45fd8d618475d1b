// Progress lines for the capture tool.
#include "tools/capture/progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/capture/frame_clock.h"

void startProgress(Progress& p, int64_t totalFrames, double fps) {
    p.terminal = isatty(2) != 0;
    p.totalFrames = totalFrames > 0 ? totalFrames : 1;
    p.fps = fps;
    p.start = p.lastShown = std::chrono::steady_clock::now();
    p.shownOnTerminal = false;
}

void showProgress(Progress& p, int64_t done) {
    const auto now = std::chrono::steady_clock::now();
    const double sinceShown = std::chrono::duration<double>(now - p.lastShown).count();
    // A terminal is redrawn ten times a second; a log gets one line every five seconds.
    if (sinceShown < (p.terminal ? 0.1 : 5.0) && done < p.totalFrames) return;
    p.lastShown = now;
    const double elapsed = std::chrono::duration<double>(now - p.start).count();
    const double rate = elapsed > 0 ? done / elapsed : 0.0;  // frames per wall second
    const double realTime = rate / p.fps;
    const double left = rate > 0 ? (p.totalFrames - done) / rate : 0.0;
    const std::string demoAt = formatSeconds(done / p.fps, 1);
    const std::string demoEnd = formatSeconds(p.totalFrames / p.fps, 1);
    if (p.terminal) {
        constexpr int WIDTH = 24;
        const int filled = static_cast<int>(WIDTH * done / p.totalFrames);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(WIDTH - filled), '.');
        std::fprintf(stderr, "\r[%s] %lld/%lld frames  %s/%s s  %.1f fps  %.2fx  %s s left   ",
                     bar.c_str(), static_cast<long long>(done), static_cast<long long>(p.totalFrames),
                     demoAt.c_str(), demoEnd.c_str(), rate, realTime, formatSeconds(left, 0).c_str());
        p.shownOnTerminal = true;
    } else {
        std::fprintf(stderr, "velmora-capture: %lld/%lld frames, demo %s s, %.1f fps (%.2fx real time), about %s s left\n",
                     static_cast<long long>(done), static_cast<long long>(p.totalFrames), demoAt.c_str(),
                     rate, realTime, formatSeconds(left, 0).c_str());
    }
    std::fflush(stderr);
}

void endProgress(Progress& p) {
    if (p.terminal && p.shownOnTerminal) std::fputc('\n', stderr);
    p.shownOnTerminal = false;
}

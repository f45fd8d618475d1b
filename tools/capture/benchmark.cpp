// Frame-time statistics, the benchmark table and its plot.
#include "tools/capture/benchmark.h"

#include <algorithm>
#include <cmath>

#include "tools/common/canvas.h"
#include "tools/common/png_file.h"

FrameTimeStats summarizeFrameTimes(std::vector<float> ms) {
    FrameTimeStats s;
    if (ms.empty()) return s;
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    s.frames = static_cast<int64_t>(n);
    s.medianMs = n % 2 ? ms[n / 2] : (double(ms[n / 2 - 1]) + ms[n / 2]) / 2.0;
    const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
    s.p99Ms = ms[std::max<size_t>(rank, 1) - 1];
    s.worstMs = ms.back();
    for (float v : ms) s.totalMs += v;
    return s;
}

void reserveBenchmark(BenchmarkLog& log, int64_t frames) {
    log.demoSeconds.reserve(static_cast<size_t>(frames));
    log.frameMs.reserve(static_cast<size_t>(frames));
    log.cpuMs.reserve(static_cast<size_t>(frames));
    log.scene.reserve(static_cast<size_t>(frames));
}

namespace {

std::vector<float> sceneTimes(const std::vector<float>& times, const BenchmarkLog& log, int scene) {
    std::vector<float> ms;
    for (size_t i = 0; i < times.size(); ++i)
        if (log.scene[i] == scene) ms.push_back(times[i]);
    return ms;
}

void printRow(std::FILE* out, const char* name, const FrameTimeStats& s, const FrameTimeStats& cpu) {
    std::fprintf(out, "%-6s %7lld %10.2f %9.2f %9.2f %9.1f %10.2f %9.2f\n", name,
                 static_cast<long long>(s.frames), s.medianMs, s.p99Ms, s.worstMs, s.framesPerSecond(),
                 cpu.medianMs, cpu.p99Ms);
}

// The smallest of 1, 2, 5 times a power of ten that is at least v.
double niceCeil(double v) {
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= v) return m * p;
    return 10.0 * p;
}

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace

void printBenchmarkTable(std::FILE* out, const BenchmarkLog& log, double fps) {
    std::fprintf(out, "%-6s %7s %10s %9s %9s %9s %10s %9s\n", "scene", "frames", "median ms", "p99 ms",
                 "worst ms", "fps", "cpu median", "cpu p99");
    for (int scene = 0; scene < 7; ++scene) {
        const FrameTimeStats s = summarizeFrameTimes(sceneTimes(log.frameMs, log, scene));
        if (s.frames == 0) continue;
        char name[8];
        std::snprintf(name, sizeof name, "%d", scene);
        printRow(out, name, s, summarizeFrameTimes(sceneTimes(log.cpuMs, log, scene)));
    }
    const FrameTimeStats all = summarizeFrameTimes(log.frameMs);
    printRow(out, "all", all, summarizeFrameTimes(log.cpuMs));
    const double demoSeconds = all.frames / fps;
    std::fprintf(out, "%.1f s of demo rendered in %.1f s: %.2fx real time at %.3g fps\n", demoSeconds,
                 all.totalMs / 1000.0, all.totalMs > 0 ? demoSeconds * 1000.0 / all.totalMs : 0.0, fps);
}

bool writeBenchmarkPlot(const std::string& path, const BenchmarkLog& log, double fps,
                        const std::string& subtitle, std::string* error) {
    constexpr int W = 1280, H = 620, LEFT = 80, RIGHT = 24, TOP = 92, BOTTOM = 56;
    const Rgb background{255, 255, 255}, axis{60, 60, 60}, grid{225, 225, 225},
        spread{150, 180, 230}, mean{20, 60, 160}, over{200, 30, 30}, budget{220, 120, 0};
    Canvas c(W, H, background);
    const int plotW = W - LEFT - RIGHT, plotH = H - TOP - BOTTOM;

    const FrameTimeStats all = summarizeFrameTimes(log.frameMs);
    const double budgetMs = 1000.0 / fps;
    // Scaled to the bulk of the frames; the few above the top are marked in red.
    const double yMax = niceCeil(std::max({all.p99Ms * 1.6, all.medianMs * 3.0, 0.5}));
    const double xMax = log.demoSeconds.empty() ? 1.0 : std::max(1.0f, log.demoSeconds.back());

    c.text(LEFT, 28, "Frame time against demo time", 22, axis);
    c.text(LEFT, 52, subtitle, 15, axis);
    // Grid and y labels: five steps.
    for (int i = 0; i <= 5; ++i) {
        const int y = TOP + plotH - plotH * i / 5;
        c.line(LEFT, y, LEFT + plotW, y, grid);
        const std::string label = fixed(yMax * i / 5, yMax < 5 ? 2 : 1);
        c.text(LEFT - 8 - 8 * static_cast<int>(label.size()), y + 5, label, 14, axis);
    }
    c.text(8, TOP - 12, "ms", 14, axis);
    const double xStep = xMax > 60 ? 12.0 : xMax > 20 ? 5.0 : 1.0;
    for (double t = 0; t <= xMax + 1e-9; t += xStep) {
        const int x = LEFT + static_cast<int>(plotW * t / xMax);
        c.line(x, TOP + plotH, x, TOP + plotH + 5, axis);
        c.text(x - 8, TOP + plotH + 22, fixed(t, 0), 14, axis);
    }
    c.text(LEFT + plotW / 2 - 50, H - 10, "demo time (s)", 15, axis);

    // Scene boundaries, labelled at the top.
    for (size_t i = 0; i < log.scene.size(); ++i) {
        if (i > 0 && log.scene[i] == log.scene[i - 1]) continue;
        const int x = LEFT + static_cast<int>(plotW * log.demoSeconds[i] / xMax);
        for (int y = TOP; y < TOP + plotH; y += 6) c.line(x, y, x, y + 2, axis);
        c.text(x + 4, TOP + 14, "scene " + std::to_string(log.scene[i]), 13, axis);
    }
    if (budgetMs <= yMax) {
        const int y = TOP + plotH - static_cast<int>(plotH * budgetMs / yMax);
        c.line(LEFT, y, LEFT + plotW, y, budget);
        c.text(LEFT + plotW - 190, y - 5, "frame budget at " + fixed(fps, 0) + " fps", 13, budget);
    } else {
        c.text(LEFT + plotW - 330, TOP - 4,
               "frame budget at " + fixed(fps, 0) + " fps (" + fixed(budgetMs, 1) + " ms) is above the top",
               13, budget);
    }

    // One column per pixel: the spread of its frames, their mean, and a red mark where
    // any frame went over the top.
    std::vector<float> lo(plotW, 1e30f), hi(plotW, -1.0f), sum(plotW, 0.0f);
    std::vector<int> count(plotW, 0);
    for (size_t i = 0; i < log.frameMs.size(); ++i) {
        const int col = std::min(plotW - 1, static_cast<int>(plotW * log.demoSeconds[i] / xMax));
        lo[col] = std::min(lo[col], log.frameMs[i]);
        hi[col] = std::max(hi[col], log.frameMs[i]);
        sum[col] += log.frameMs[i];
        ++count[col];
    }
    auto yOf = [&](double ms) {
        return TOP + plotH - static_cast<int>(plotH * std::min(ms, yMax) / yMax);
    };
    for (int col = 0; col < plotW; ++col) {
        if (count[col] == 0) continue;
        const int x = LEFT + col;
        c.line(x, yOf(lo[col]), x, yOf(hi[col]), spread);
        c.fillRect(x, yOf(sum[col] / count[col]) - 1, 1, 2, mean);
        if (hi[col] > yMax) c.fillRect(x - 1, TOP, 3, 4, over);
    }
    c.line(LEFT, TOP, LEFT, TOP + plotH, axis);
    c.line(LEFT, TOP + plotH, LEFT + plotW, TOP + plotH, axis);
    c.text(LEFT, 74,
           "all frames: median " + fixed(all.medianMs, 2) + " ms, p99 " + fixed(all.p99Ms, 2) + " ms, worst " +
               fixed(all.worstMs, 1) + " ms; blue: spread and mean per pixel column, red: above the top",
           14, axis);
    return writePng(path, W, H, c.rgba.data(), error);
}

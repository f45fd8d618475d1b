// The performance meter: frame times per scene (median, 99th percentile, worst, frames
// per second) as a table, and a plot of frame time against demo time. Owns no globals.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct FrameTimeStats {
    int64_t frames = 0;
    double medianMs = 0;  // middle frame time; the mean of the two middle ones for even counts
    double p99Ms = 0;     // nearest rank: 99 % of frames took at most this
    double worstMs = 0;
    double totalMs = 0;
    double framesPerSecond() const { return totalMs > 0 ? frames * 1000.0 / totalMs : 0.0; }
};

// Statistics of a set of frame times in ms (empty: all zero).
FrameTimeStats summarizeFrameTimes(std::vector<float> frameMs);

// Every rendered frame of a benchmark, in order. Reserved before the frames render.
struct BenchmarkLog {
    std::vector<float> demoSeconds;  // the frame's clock reading, s
    std::vector<float> frameMs;      // wall time to render the frame, finished, ms
    std::vector<float> cpuMs;        // processor time of all the process's threads meanwhile, ms:
                                     // steadier than wall time on a shared machine
    std::vector<int8_t> scene;       // the scene that rendered it, 0..6
};

void reserveBenchmark(BenchmarkLog& log, int64_t frames);

// Per-scene rows and an "all" row, wall and processor time; `fps` is the capture rate for
// the real-time factor.
void printBenchmarkTable(std::FILE* out, const BenchmarkLog& log, double fps);

// Frame time against demo time with scene boundaries and the frame budget at `fps`.
// `subtitle` names the size, rate and renderer. False with a reason when the PNG fails.
bool writeBenchmarkPlot(const std::string& path, const BenchmarkLog& log, double fps,
                        const std::string& subtitle, std::string* error);

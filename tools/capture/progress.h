// Progress on stderr: a bar redrawn in place on a terminal, a plain line every few
// seconds otherwise (logs, CI). Owns no globals.
#pragma once
#include <chrono>
#include <cstdint>

struct Progress {
    bool terminal = false;
    int64_t totalFrames = 0;   // frames the run will render, preroll included
    double fps = 60.0;         // the capture's frame rate, for the real-time factor
    std::chrono::steady_clock::time_point start, lastShown;
    bool shownOnTerminal = false;
};

void startProgress(Progress& progress, int64_t totalFrames, double fps);
// After each frame: `framesDone` rendered so far.
void showProgress(Progress& progress, int64_t framesDone);
// Ends the bar's line on a terminal.
void endProgress(Progress& progress);

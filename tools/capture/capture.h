// The capture run: the demo's own start-up and frames on a virtual clock, each frame read
// back and handed to the outputs the options ask for. Owns the virtual clock.
#pragma once
#include "tools/capture/options.h"

// Runs the whole capture. Returns the process exit status: 0 done, 1 failed,
// 130 stopped by SIGINT/SIGTERM/SIGHUP after finishing what was captured.
int runCapture(const CaptureOptions& options);

// The capture tool's command line: what to write, which span, at what rate and size.
// Plain code: knows neither SDL nor GL.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/render_size.h"
#include "tools/capture/frame_clock.h"

struct CaptureOptions {
    std::string pngDir;            // --png: numbered frames go here
    std::vector<int64_t> atUs;     // --at: demo times (µs) whose frames alone go to pngDir
    std::string videoFile;         // --video
    std::string contactSheet;      // --contact-sheet
    bool benchmark = false;        // --benchmark
    std::string plotFile = "benchmark.png";  // --plot
    std::string logFile;           // --log
    std::string dataDir;           // --data: folder holding music.mp3 and textures/
    FrameRate fps;                 // --fps, 60 by default
    int64_t fromUs = 0;            // --from, µs of demo time
    int64_t toUs = -1;             // --to, µs of demo time; -1: the demo's end
    double scale = 1.0;            // --scale, 1..8
    int outputWidth = 640;         // pixels, from the scale (else from --render): 4:3 and even
    int outputHeight = 480;
    RenderSize render;             // --render: native is the output size; by default 1
    double renderScale = 1.0;      // the picture is rendered at 640 x 480 times this, 1..8
    std::string codec;             // --codec: ffmpeg video encoder; empty: chosen by extension
    int crf = 18;                  // --crf, 0..51
    std::string preset = "veryfast";  // --preset
    int sheetCount = 48;           // --sheet-count, 1..400 thumbnails
    bool help = false;             // --help: print usage and stop
};

// Reads argv[1..argc-1]. On a bad command line returns false with a one-line reason that
// names the offending option. `demoEndMs` is the demo's last scene end (ms), which bounds
// the times that can be asked for.
bool parseOptions(int argc, const char* const* argv, int64_t demoEndMs, CaptureOptions& options,
                  std::string* error);

// The --help text.
const char* captureUsage();


// The player's command line: window or full screen, vsync, loop, render size, data folder.
// Plain code: knows neither SDL nor GL. Started with no options the demo plays as it always
// has: full screen, adaptive vsync, once, from the working folder or the installed data.
#pragma once
#include <string>

#include "app/render_size.h"

// How buffer swaps wait for the screen's refresh.
enum class VsyncChoice {
    Default,  // adaptive where the driver offers it, else every refresh
    On,       // --vsync: every refresh, never torn
    Off,      // --no-vsync: never waits
};

struct PlayerOptions {
    bool help = false;       // --help: print usage and stop
    bool version = false;    // --version: print the version and stop
    bool windowed = false;   // --window: a resizable desktop window instead of full screen
    int windowWidth = 0;     // --window=WxH, pixels; 0: 1280 x 960 or the largest 4:3 that fits
    int windowHeight = 0;
    VsyncChoice vsync = VsyncChoice::Default;
    bool loop = false;       // --loop: start again after the last scene, until Escape
    RenderSize render;       // --render: native, or a factor 1..8 (the default 1: 640 x 480)
    std::string dataDir;     // --data: folder holding music.mp3 and textures/
};

// Reads argv[1..argc-1]. Later options win over earlier ones they contradict (--window and
// --fullscreen, --vsync and --no-vsync). On a bad command line returns false with one line
// in `error` that names the option or value and points at --help.
bool parsePlayerOptions(int argc, const char* const* argv, PlayerOptions& options, std::string* error);

// The --help text.
const char* playerUsage();

// "velmora 1.0.0", the --version line (without its newline).
const char* playerVersion();

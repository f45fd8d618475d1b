// The demo's main routine: read the command line, open the display, start up, run the
// frames, shut down. Assets come from --data, else the working folder, or from the
// installed copy when the working folder has none (app/data_folder.h).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/data_folder.h"
#include "app/demo.h"
#include "app/player_options.h"
#include "app/timeline.h"

namespace {

// --help and --version: printed before anything else, so they work without a display.
int printAndStop(const char* text) {
    std::fputs(text, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "velmora: cannot write the standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    PlayerOptions options;
    std::string error;
    if (!parsePlayerOptions(argc, argv, options, &error)) {
        std::fprintf(stderr, "velmora: %s\n", error.c_str());
        return 2;
    }
    if (options.help) return printAndStop(playerUsage());
    if (options.version) return printAndStop((std::string(playerVersion()) + "\n").c_str());
    if (!options.dataDir.empty()) {
        if (chdir(options.dataDir.c_str()) != 0) {
            std::fprintf(stderr, "velmora: --data %s: %s (see velmora --help)\n", options.dataDir.c_str(),
                         std::strerror(errno));
            return 2;
        }
    } else {
        enterDataFolder("velmora");
    }
    windowedWidth = options.windowWidth;
    windowedHeight = options.windowHeight;
    swapInterval = options.vsync == VsyncChoice::On ? 1 : options.vsync == VsyncChoice::Off ? 0 : -1;
    loopPlayback = options.loop;
    renderRequest = options.render;

    prefetchAssets();
    const WindowKind kind = options.windowed ? WindowKind::Windowed : WindowKind::Fullscreen;
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32, kind)) return 1;
    clockSource = platformClockMs;
    // The window takes a while to show; start-up's GL work is done meanwhile.
    showWindowWhile(prepareDemo);
    swapWindow();  // the black frame
    startMusic();
    startClocks();
    runFrameLoop();
    shutdownDemo();
    return frameLogLost() ? 1 : 0;
}

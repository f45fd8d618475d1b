// velmora-capture: renders the demo offline, frame-exact, to PNG frames, a video with its
// sound, a contact sheet, or a benchmark report.
#include <SDL2/SDL.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/timeline.h"
#include "tools/capture/capture.h"
#include "tools/capture/options.h"

int main(int argc, char** argv) {
    CaptureOptions options;
    std::string error;
    const int64_t demoEndMs = static_cast<int64_t>(sceneTimeline[SCENE_COUNT - 1].endMs);
    if (!parseOptions(argc, argv, demoEndMs, options, &error)) {
        std::fprintf(stderr, "velmora-capture: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(captureUsage(), stdout);
        return 0;
    }
    // No X server needed: SDL's offscreen driver with an EGL context (Mesa's llvmpipe
    // without a GPU). SDL must leave SIGINT to us, so that Ctrl-C can finish the video.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const int status = runCapture(options);
    // The table, the --at lines: a full disk under stdout is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "velmora-capture: cannot write the standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

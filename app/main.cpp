// The demo's main routine: open the display, start up, run the frames, shut down.
// The command line takes only --render; anything else is ignored. Assets come from the
// working folder, or from the installed copy when the working folder has none
// (app/data_folder.h).
#include <cstdio>
#include <cstring>
#include <string>

#include "app/data_folder.h"
#include "app/demo.h"
#include "app/display.h"
#include "app/render_size.h"
#include "app/timeline.h"

namespace {

// --render native|S|WxH (or --render=...) into renderRequest. False, after one line on
// stderr, when its value is missing or bad.
bool readRenderOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (std::strcmp(argv[i], "--render") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmora: --render: needs a value (native, a factor like 2, or 640x480)\n");
                return false;
            }
            value = argv[++i];
        } else if (std::strncmp(argv[i], "--render=", 9) == 0) {
            value = argv[i] + 9;
        } else {
            continue;
        }
        std::string why;
        if (!parseRenderSize(value, renderRequest, &why)) {
            std::fprintf(stderr, "velmora: --render %s: %s\n", value.c_str(), why.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!readRenderOption(argc, argv)) return 2;
    enterDataFolder("velmora");
    prefetchAssets();
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32)) return 1;
    clockSource = platformClockMs;
    // The window takes a while to show; start-up's GL work is done meanwhile.
    showWindowWhile(prepareDemo);
    swapWindow();  // the black frame
    startMusic();
    startClocks();
    runFrameLoop();
    shutdownDemo();
    return 0;
}

// The demo's main routine: open the display, start up, run the frames, shut down.
// Of the command line only --loop is read (play the demo over and over until Escape).
// Assets come from the working folder, or from the installed copy when the working
// folder has none (app/data_folder.h).
#include <cstring>

#include "app/data_folder.h"
#include "app/demo.h"
#include "app/timeline.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--loop") == 0) loopPlayback = true;
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

// The demo's main routine: open the display, start up, run the frames, shut down.
// The command line is ignored.
#include "app/demo.h"
#include "app/timeline.h"

int main(int, char**) {
    prefetchAssets();
    if (!openDisplay(windowClassName, screenWidth, screenHeight, 32)) return 1;
    clockSource = platformClockMs;
    loadDemo();
    startMusic();
    startClocks();
    runFrameLoop();
    shutdownDemo();
    return 0;
}

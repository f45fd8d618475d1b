// The demo's main routine: open the display, start up, run the frames, shut down.
// The command line is ignored. Assets come from the working folder, or from the installed
// copy when the working folder has none (app/data_folder.h).
#include "app/data_folder.h"
#include "app/demo.h"
#include "app/timeline.h"

int main(int, char**) {
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
    return frameLogLost() ? 1 : 0;
}

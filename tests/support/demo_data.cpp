// One demo start-up per test program, from the repository's data folder.
#include "tests/support/demo_data.h"

#include <unistd.h>

#include <climits>

#include "app/demo.h"
#include "audio/music_player.h"

bool ensureDemoLoaded(bool withMusic) {
    static bool loaded = false;
    static bool musicLoaded = false;
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here) || chdir(VELMORA_DATA_DIR) != 0) return false;
    if (!loaded) {
        loadDemo();
        loaded = true;
    }
    if (withMusic && !musicLoaded) musicLoaded = musicPlayer.loadStream(0, "music.mp3");
    const bool back = chdir(here) == 0;
    return back && (!withMusic || musicLoaded);
}

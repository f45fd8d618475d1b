// The music player: plays "music.mp3" from memory and hands out the spectrum of
// what is playing. Owns the global `musicPlayer`.
#pragma once

struct MusicPlayer {
    // True when sound output is ready.
    bool initMusic();
    // Reads the whole file into memory and opens it in `slot` (0..9). True on success.
    bool loadStream(int slot, const char* path);
    // Starts `slot` from `position` (0: the start). An empty slot does nothing.
    void playStream(int slot, int position);
    // Stops `slot`. An empty slot does nothing.
    void stopStream(int slot);
    // The current spectrum, lowest frequencies first, values 0..1; null when there is none.
    const float* spectrum();
    // Stops the spectrum and closes the sound output.
    void closeMusic();
};

extern MusicPlayer musicPlayer;

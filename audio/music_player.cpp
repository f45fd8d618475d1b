// The music player. Sound output lands with the sound layer; until then the demo
// runs silent with a music level of 0.
#include "audio/music_player.h"

MusicPlayer musicPlayer;

bool MusicPlayer::initMusic() { return false; }
bool MusicPlayer::loadStream(int, const char*) { return false; }
void MusicPlayer::playStream(int, int) {}
void MusicPlayer::stopStream(int) {}
const float* MusicPlayer::spectrum() { return nullptr; }
void MusicPlayer::closeMusic() {}

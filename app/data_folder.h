// Where the demo's assets come from. The demo reads music.mp3 and textures/ from its
// working folder; an installed demo started elsewhere changes into its installed copy
// first. Plain code: no SDL, no GL. Owns no globals.
#pragma once
#include <string>

// True when `folder` holds a music.mp3 or a textures/ entry (either one: the demo runs on
// with whatever is missing).
bool hasDemoAssets(const std::string& folder);

// The installed asset folder that belongs to the program at `programPath`, found from
// where the program lies (<prefix>/bin/velmora -> <prefix>/share/velmora), so that any
// install prefix works. Empty when `programPath` has no folder part.
std::string installedDataFolder(const std::string& programPath);

// The folder to read assets from: "." when the working folder has assets of its own,
// else `installed` when that has them, else "." (the demo then runs silent and
// untextured, as it would anyway).
std::string chooseDataFolder(const std::string& installed);

// Makes the chosen folder the working folder, for this running program (found through
// /proc/self/exe). VELMORA_DATA, when set and not empty, names the folder instead, with
// no choice made (the menu entry sets it to the installed copy, so that a stray
// music.mp3 in the home folder it starts in is never played). Returns the folder now in
// use, absolute; on a failed change it says so in one stderr line prefixed with
// `programName` and stays where it is.
std::string enterDataFolder(const char* programName);

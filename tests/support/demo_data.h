// The demo's own start-up (pictures, scene set-ups, font) from the repository's default
// data, once per test program, for tests that render whole frames.
#pragma once

// Runs loadDemo() with the default data folder as working directory, the first time only,
// and optionally loads the default music into slot 0 (no sound output needed). Returns
// false when the data folder cannot be entered or the music cannot be loaded.
bool ensureDemoLoaded(bool withMusic = false);

// The av-sync test track: short bursts of a low tone with a sharp onset at known,
// irregular times, over silence. Each burst moves the music level from 0 to a steady
// value; the frame that first shows half of it is the frame that shows the click.
#pragma once
#include <cstdint>
#include <vector>

constexpr int CLICK_COUNT = 16;
constexpr double CLICK_HZ = 344.53125;    // exactly on spectrum bin 8 (44100 / 1024 * 8)
constexpr double CLICK_AMPLITUDE = 0.5;   // 0..1, peak of each burst
constexpr int CLICK_FRAMES = 5292;        // 120 ms at 44.1 kHz, the last 5 ms faded out
constexpr int64_t CLICK_LEAD_IN = 66150;  // 1.5 s of silence before the first click

// Frame of each click's onset at 44.1 kHz from the track's start. The gaps run from
// 450 to 737 ms in an irregular order, so that no click lands at the same place in the
// sound device's buffer cycle as the one before it.
std::vector<int64_t> clickFrames();

// The whole track, interleaved stereo 16-bit PCM at 44.1 kHz, 1 s of silence after the
// last click.
std::vector<int16_t> synthesizeClickTrack();

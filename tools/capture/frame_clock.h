// The capture's virtual clock: frame numbers, frame rates and demo times in exact
// integer arithmetic, so that every run and every machine sees the same milliseconds.
// Plain code: knows neither SDL nor GL.
#pragma once
#include <cstdint>
#include <string>

// Frames per second as the fraction num / den, reduced (60/1, 60000/1001, 2997/100).
struct FrameRate {
    int64_t num = 60;  // 1..10^9
    int64_t den = 1;   // 1..10^6
};

// Accepts "60", "59.94" and "60000/1001"; the rate must lie in 1..1000 frames per second.
bool parseFrameRate(const std::string& text, FrameRate& rate, std::string* reason);

// Longest time any option takes, s: a day, far past the demo's end, small enough that
// no product of a time and a rate can overflow.
constexpr int64_t MAX_TIME_SECONDS = 86400;

// Seconds as "12", "12.5", "1:05.25" (minutes:seconds), at most 6 decimals, up to
// MAX_TIME_SECONDS; checked before any arithmetic. Result in µs.
bool parseSeconds(const std::string& text, int64_t& microseconds, std::string* reason);

// What the demo's millisecond clock reads during frame n: floor(n * 1000 / fps).
int64_t frameClockMs(int64_t frame, FrameRate rate);

// The first audio sample frame (at `sampleRate` Hz) heard while frame n is shown:
// floor(n * sampleRate / fps). Frame n's sound is [frameAudioStart(n), frameAudioStart(n + 1)).
int64_t frameAudioStart(int64_t frame, FrameRate rate, int64_t sampleRate);

// The frame on screen at time t (µs): floor(t * fps).
int64_t frameShownAt(int64_t microseconds, FrameRate rate);

// The first frame that starts at or after time t (µs): ceil(t * fps).
int64_t firstFrameFrom(int64_t microseconds, FrameRate rate);

// Where frame n starts, in µs (rounded down).
int64_t frameStartUs(int64_t frame, FrameRate rate);

// The first frame whose clock reads more than `endMs`: the frame in which a scene that
// ends at `endMs` hands over (for the last scene, the demo's last frame).
int64_t firstFrameAfterMs(int64_t endMs, FrameRate rate);

// "1:23.450" style text for progress lines and captions.
std::string formatSeconds(double seconds, int decimals);

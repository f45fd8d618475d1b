// Sound building blocks for the generated track: a stereo sample buffer, a noise
// source, oscillators, a state-variable filter, and the delay and reverb effects.
// Everything runs on an integer sample clock at 44,100 Hz; nothing reads the time.
#pragma once
#include <cstdint>
#include <vector>

namespace assets {

constexpr int SAMPLE_RATE = 44100;          // Hz
constexpr double PI = 3.14159265358979323846;

// Two channels of float samples, nominally -1..1.
struct Stereo {
    std::vector<float> left, right;

    explicit Stereo(int64_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
    int64_t frames() const { return (int64_t)left.size(); }
    // Adds one frame at `at`; frames outside the buffer are dropped.
    void add(int64_t at, float l, float r)
    {
        if (at < 0 || at >= frames())
            return;
        left[at] += l;
        right[at] += r;
    }
};

// Deterministic white noise, -1..1 (xorshift32).
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    float next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (float)((double)state / 2147483648.0 - 1.0);
    }
};

// Frequency in Hz of MIDI note `note` (69 = A4 = 440 Hz), `cents` detuned.
double noteHz(double note, double cents = 0.0);

// Band-limited sawtooth (PolyBLEP); phase in cycles, 0..1.
struct Saw {
    double phase = 0.0;
    float next(double hz);
};

// Band-limited square (PolyBLEP); phase in cycles, 0..1.
struct Square {
    double phase = 0.0;
    float next(double hz);
};

// Sine oscillator; phase in cycles.
struct Sine {
    double phase = 0.0;
    float next(double hz);
};

// Zero-delay-feedback state-variable filter. Call setup() whenever the cutoff moves.
struct Svf {
    float ic1 = 0.0f, ic2 = 0.0f;
    float a1 = 0.0f, a2 = 0.0f, a3 = 0.0f, k = 1.0f;
    // cutoffHz clamped to 20..18000; q 0.5 (soft) .. 10 (ringing).
    void setup(double cutoffHz, double q);
    struct Out { float low, band, high; };
    Out run(float in);
};

// Equal-power pan gains for pan -1 (left) .. 1 (right).
void panGains(float pan, float& left, float& right);

// Stereo feedback delay that crosses the channels on each repeat (ping-pong).
// delayFrames > 0; feedback 0..0.9; damping 0..1 (one-pole low-pass in the loop).
void pingPongDelay(const Stereo& in, Stereo& out, int delayFrames, float feedback, float damping);

// Stereo room reverb (eight parallel combs and four series all-passes per channel).
// roomSize 0..1 (tail length), damping 0..1, added into `out` scaled by `wet`.
void roomReverb(const Stereo& in, Stereo& out, float roomSize, float damping, float wet);

} // namespace assets

// Oscillators, filter and effects for the generated track. All state is in the
// caller's records; the arithmetic is plain float/double so that runs repeat exactly.
#include "tools/make_assets/synth.h"

#include <algorithm>
#include <cmath>

namespace assets {

double noteHz(double note, double cents)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0 + cents / 1200.0);
}

// Residual that removes the aliasing step of a discontinuity; t is the phase in
// cycles, dt the phase step per sample.
static double polyBlep(double t, double dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

float Saw::next(double hz)
{
    double dt = hz / SAMPLE_RATE;
    double value = 2.0 * phase - 1.0 - polyBlep(phase, dt);
    phase += dt;
    phase -= std::floor(phase);
    return (float)value;
}

float Square::next(double hz)
{
    double dt = hz / SAMPLE_RATE;
    double value = phase < 0.5 ? 1.0 : -1.0;
    value += polyBlep(phase, dt);
    double shifted = phase + 0.5;
    shifted -= std::floor(shifted);
    value -= polyBlep(shifted, dt);
    phase += dt;
    phase -= std::floor(phase);
    return (float)value;
}

float Sine::next(double hz)
{
    double value = std::sin(2.0 * PI * phase);
    phase += hz / SAMPLE_RATE;
    phase -= std::floor(phase);
    return (float)value;
}

void Svf::setup(double cutoffHz, double q)
{
    cutoffHz = std::min(18000.0, std::max(20.0, cutoffHz));
    double g = std::tan(PI * cutoffHz / SAMPLE_RATE);
    double kk = 1.0 / q;
    double aa1 = 1.0 / (1.0 + g * (g + kk));
    k = (float)kk;
    a1 = (float)aa1;
    a2 = (float)(g * aa1);
    a3 = (float)(g * g * aa1);
}

Svf::Out Svf::run(float in)
{
    float v3 = in - ic2;
    float v1 = a1 * ic1 + a2 * v3;
    float v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0f * v1 - ic1;
    ic2 = 2.0f * v2 - ic2;
    return {v2, v1, in - k * v1 - v2};
}

void panGains(float pan, float& left, float& right)
{
    double angle = (std::min(1.0f, std::max(-1.0f, pan)) + 1.0) * PI / 4.0;
    left = (float)std::cos(angle);
    right = (float)std::sin(angle);
}

void pingPongDelay(const Stereo& in, Stereo& out, int delayFrames, float feedback, float damping)
{
    std::vector<float> lineL(delayFrames, 0.0f), lineR(delayFrames, 0.0f);
    float lowL = 0.0f, lowR = 0.0f;
    int64_t n = std::min(in.frames(), out.frames());
    int pos = 0;
    for (int64_t i = 0; i < n; ++i) {
        float echoL = lineL[pos], echoR = lineR[pos];
        lowL += (1.0f - damping) * (echoL - lowL);
        lowR += (1.0f - damping) * (echoR - lowR);
        // The left input enters the left line; each repeat swaps sides.
        lineL[pos] = in.left[i] + feedback * lowR;
        lineR[pos] = in.right[i] + feedback * lowL;
        out.left[i] += echoL;
        out.right[i] += echoR;
        if (++pos == delayFrames)
            pos = 0;
    }
}

namespace {

struct Comb {
    std::vector<float> line;
    int pos = 0;
    float low = 0.0f;
    float run(float in, float feedback, float damping)
    {
        float out = line[pos];
        low = out * (1.0f - damping) + low * damping;
        line[pos] = in + low * feedback;
        if (++pos == (int)line.size())
            pos = 0;
        return out;
    }
};

struct Allpass {
    std::vector<float> line;
    int pos = 0;
    float run(float in)
    {
        float delayed = line[pos];
        float out = delayed - in;
        line[pos] = in + delayed * 0.5f;
        if (++pos == (int)line.size())
            pos = 0;
        return out;
    }
};

} // namespace

void roomReverb(const Stereo& in, Stereo& out, float roomSize, float damping, float wet)
{
    // Mutually prime delay lengths in frames at 44.1 kHz; the right channel's are
    // longer by 23 frames so that the two tails decorrelate into a wide image.
    static const int combLengths[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const int allpassLengths[4] = {556, 441, 341, 225};
    const int spread = 23;
    Comb combs[2][8];
    Allpass allpasses[2][4];
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < 8; ++i)
            combs[c][i].line.assign(combLengths[i] + c * spread, 0.0f);
        for (int i = 0; i < 4; ++i)
            allpasses[c][i].line.assign(allpassLengths[i] + c * spread, 0.0f);
    }
    float feedback = 0.7f + 0.28f * roomSize;
    float damp = 0.4f * damping;
    int64_t n = std::min(in.frames(), out.frames());
    for (int64_t i = 0; i < n; ++i) {
        float input = (in.left[i] + in.right[i]) * 0.015f;
        float sum[2] = {0.0f, 0.0f};
        for (int c = 0; c < 2; ++c) {
            for (int k = 0; k < 8; ++k)
                sum[c] += combs[c][k].run(input, feedback, damp);
            for (int k = 0; k < 4; ++k)
                sum[c] = allpasses[c][k].run(sum[c]);
        }
        out.left[i] += wet * sum[0];
        out.right[i] += wet * sum[1];
    }
}

} // namespace assets

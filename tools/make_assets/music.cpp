// Composition and mixdown of the default track. Instruments render note by note
// into five stereo buses (kick, dry, side-chained, delay send, reverb send); the
// master sums them, shapes the peaks, puts the highest at -1.7 dBFS (about -1 dBFS
// once decoded) and fades out over 140..144 s.
#include "tools/make_assets/music.h"

#include "tools/make_assets/synth.h"

#include <algorithm>
#include <cmath>

namespace assets {
namespace {

constexpr double SR = SAMPLE_RATE;

struct Buses {
    Stereo kick;     // the kick alone, so that the master can keep it on top
    Stereo dry;      // other drums, lead: straight to the master
    Stereo ducked;   // bass, pads, arpeggio: pushed down by every kick
    Stereo delay;    // send to the ping-pong delay
    Stereo reverb;   // send to the room reverb
    explicit Buses(int64_t frames) : kick(frames), dry(frames), ducked(frames), delay(frames), reverb(frames) {}
};

Buses* bus = nullptr;

// Frame of sixteenth note `step` counted from the start (4 steps a beat). A beat
// is 22050 frames, so sixteenths alternate between 5512 and 5513 frames.
int64_t stepFrame(int64_t step) { return step * (BEAT_FRAMES / 2) / 2; }
int64_t beatFrame(int64_t beat) { return beat * BEAT_FRAMES; }

// A per-event noise seed, so that every hit sounds the same wherever it is rendered.
uint32_t seedFor(int64_t at, uint32_t salt)
{
    uint64_t x = (uint64_t)at * 0x9E3779B97F4A7C15ull + salt * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 31;
    return (uint32_t)(x ^ (x >> 17)) | 1u;
}

// Adds a mono sample with pan and sends to the buses.
void put(Stereo& target, int64_t at, float value, float pan, float delaySend, float reverbSend)
{
    float l, r;
    panGains(pan, l, r);
    target.add(at, value * l, value * r);
    if (delaySend > 0.0f)
        bus->delay.add(at, value * l * delaySend, value * r * delaySend);
    if (reverbSend > 0.0f)
        bus->reverb.add(at, value * l * reverbSend, value * r * reverbSend);
}

// ---- Drums -----------------------------------------------------------------

// Kick: a sine falling from 450 Hz to 50 Hz. Its first 60 ms are driven into
// saturation, so that the hit fills the low and middle spectrum for the music
// level, then smoothed by a 2.5 kHz low-pass so that it thumps rather than buzzes;
// a clean, slower tail under it gives the boom. 0.42 s long.
void kick(int64_t at, float gain)
{
    const int length = (int)(0.42 * SR);
    const int fadeFrames = (int)(0.02 * SR);
    Noise noise(seedFor(at, 1));
    Svf smooth;
    smooth.setup(2500.0, 0.7);
    double phase = 0.0;
    const double drive = 5.0;
    const double norm = 1.0 / std::tanh(drive);
    for (int i = 0; i < length; ++i) {
        double t = i / SR;
        double hz = 50.0 + 400.0 * std::exp(-t * 30.0);
        double body = std::sin(2.0 * PI * phase);
        phase += hz / SR;
        double punch = smooth.run((float)(std::tanh(drive * body * std::exp(-t * 26.0)) * norm)).low;
        double boom = body * std::exp(-t * 7.0);
        double click = noise.next() * std::exp(-t * 1500.0) * 0.2;
        double value = gain * (0.8 * punch + 0.2 * boom + click);
        if (i > length - fadeFrames)
            value *= (double)(length - i) / fadeFrames;
        bus->kick.add(at + i, (float)value, (float)value);
    }
}

// Hi-hat: high-passed noise; closed 60 ms, open 250 ms.
void hat(int64_t at, float gain, bool open, float pan)
{
    const int length = (int)((open ? 0.25 : 0.06) * SR);
    const double tau = open ? 0.08 : 0.016;
    Noise noise(seedFor(at, open ? 2 : 3));
    Svf hp;
    hp.setup(open ? 6500.0 : 8000.0, 0.8);
    for (int i = 0; i < length; ++i) {
        double t = i / SR;
        double env = std::exp(-t / tau);
        if (i < 44)
            env *= i / 44.0;
        float value = (float)(gain * env) * hp.run(noise.next()).high;
        put(bus->dry, at + i, value, pan, 0.0f, open ? 0.1f : 0.0f);
    }
}

// Clap on the back beats: three quick noise bursts and a tail through a band-pass,
// over a short tone for body.
void clap(int64_t at, float gain)
{
    const int length = (int)(0.35 * SR);
    Noise noise(seedFor(at, 4));
    Svf bp;
    bp.setup(1400.0, 1.3);
    for (int i = 0; i < length; ++i) {
        double t = i / SR;
        double env = 0.0;
        for (int k = 0; k < 3; ++k) {
            double dt = t - 0.011 * k;
            if (dt >= 0.0)
                env = std::max(env, std::exp(-dt / 0.005));
        }
        if (t > 0.03)
            env = std::max(env, 0.7 * std::exp(-(t - 0.03) / 0.09));
        double body = std::sin(2.0 * PI * 190.0 * t) * std::exp(-t / 0.035) * 0.35;
        float value = (float)(gain * (env * 2.2 * bp.run(noise.next()).band + body));
        put(bus->dry, at + i, value, 0.0f, 0.0f, 0.35f);
    }
}

// Snare for the rolls that lead into a new section.
void snare(int64_t at, float gain)
{
    const int length = (int)(0.18 * SR);
    Noise noise(seedFor(at, 5));
    Svf bp;
    bp.setup(2200.0, 0.9);
    for (int i = 0; i < length; ++i) {
        double t = i / SR;
        double env = std::exp(-t / 0.045);
        double body = std::sin(2.0 * PI * 205.0 * t) * std::exp(-t / 0.03) * 0.5;
        float value = (float)(gain * (env * 1.6 * bp.run(noise.next()).band + body));
        put(bus->dry, at + i, value, 0.0f, 0.0f, 0.25f);
    }
}

// Crash cymbal that marks the first beat of a section: 2.5 s of bright noise,
// independent on each side.
void crash(int64_t at, float gain)
{
    const int length = (int)(2.5 * SR);
    Noise noiseL(seedFor(at, 6)), noiseR(seedFor(at, 7));
    Svf hpL, hpR;
    hpL.setup(4500.0, 0.7);
    hpR.setup(4700.0, 0.7);
    for (int i = 0; i < length; ++i) {
        double t = i / SR;
        double env = std::exp(-t / 0.65);
        if (i < 88)
            env *= i / 88.0;
        float l = (float)(gain * env) * hpL.run(noiseL.next()).high;
        float r = (float)(gain * env) * hpR.run(noiseR.next()).high;
        bus->dry.add(at + i, l, r);
        bus->reverb.add(at + i, l * 0.2f, r * 0.2f);
    }
}

// Noise riser from `from` to `to` (frames): a band-pass sweeping from 400 Hz to
// 9 kHz that swells towards the next section.
void riser(int64_t from, int64_t to, float gain)
{
    Noise noiseL(seedFor(from, 8)), noiseR(seedFor(from, 9));
    Svf bpL, bpR;
    int64_t length = to - from;
    for (int64_t i = 0; i < length; ++i) {
        double x = (double)i / length;
        if (i % 32 == 0) {
            double hz = 400.0 * std::pow(9000.0 / 400.0, x);
            bpL.setup(hz, 2.0);
            bpR.setup(hz * 1.03, 2.0);
        }
        float amp = (float)(gain * x * x);
        float l = amp * bpL.run(noiseL.next()).band;
        float r = amp * bpR.run(noiseR.next()).band;
        bus->dry.add(from + i, l, r);
        bus->reverb.add(from + i, l * 0.3f, r * 0.3f);
    }
}

// ---- Pitched instruments ---------------------------------------------------

// Bass note: a sawtooth and a sine an octave below, through a low-pass whose
// cutoff starts (1 + envAmount) times higher and settles to `cutoffHz`.
void bass(int64_t at, int64_t frames, int note, float gain, double cutoffHz, double envAmount,
          float subGain = 0.35f)
{
    const int release = (int)(0.012 * SR);
    double hz = noteHz(note);
    Saw saw;
    Sine sub;
    Svf lp;
    for (int64_t i = 0; i < frames + release; ++i) {
        double t = i / SR;
        if (i % 16 == 0)
            lp.setup(cutoffHz * (1.0 + envAmount * std::exp(-t / 0.07)), 1.1);
        double amp = std::min(1.0, i / (0.003 * SR));
        if (i >= frames)
            amp *= 1.0 - (double)(i - frames) / release;
        float osc = saw.next(hz) + subGain * sub.next(hz * 0.5);
        float value = (float)(gain * amp) * lp.run(osc).low;
        put(bus->ducked, at + i, value, 0.0f, 0.0f, 0.0f);
    }
}

// Supersaw chord: seven detuned sawtooths per note spread across the stereo field,
// one low-pass per side sweeping from cutStart to cutEnd Hz over the note, and a
// high-pass at 220 Hz that leaves the low end to the kick and the bass.
struct ChordSound {
    float gain;
    double cutStart, cutEnd;
    double attack, release;   // seconds
    float delaySend, reverbSend;
};

void supersaw(Stereo& target, int64_t at, int64_t frames, const int* notes, int noteCount,
              const ChordSound& sound)
{
    static const double detune[7] = {-19.0, -11.0, -4.0, 0.0, 4.5, 11.5, 20.0}; // cents
    static const float pans[7] = {-0.9f, -0.6f, -0.3f, 0.0f, 0.3f, 0.6f, 0.9f};
    const int voices = 7;
    Saw osc[4][7];
    double hz[4][7];
    float panL[7], panR[7];
    for (int v = 0; v < voices; ++v)
        panGains(pans[v], panL[v], panR[v]);
    for (int n = 0; n < noteCount; ++n)
        for (int v = 0; v < voices; ++v) {
            hz[n][v] = noteHz(notes[n], detune[v]);
            osc[n][v].phase = (seedFor(notes[n] * 7 + v, 10) % 1000) / 1000.0;
        }
    Svf lpL, lpR, hpL, hpR;
    hpL.setup(220.0, 0.7);
    hpR.setup(220.0, 0.7);
    const int64_t attack = std::max<int64_t>(1, (int64_t)(sound.attack * SR));
    const int64_t release = std::max<int64_t>(1, (int64_t)(sound.release * SR));
    const float norm = sound.gain / std::sqrt((float)(voices * noteCount));
    for (int64_t i = 0; i < frames + release; ++i) {
        if (i % 32 == 0) {
            double x = std::min(1.0, (double)i / frames);
            double cut = sound.cutStart * std::pow(sound.cutEnd / sound.cutStart, x);
            lpL.setup(cut, 0.8);
            lpR.setup(cut, 0.8);
        }
        double amp = std::min(1.0, (double)i / attack);
        if (i >= frames)
            amp *= 1.0 - (double)(i - frames) / release;
        float l = 0.0f, r = 0.0f;
        for (int n = 0; n < noteCount; ++n)
            for (int v = 0; v < voices; ++v) {
                float s = osc[n][v].next(hz[n][v]);
                l += s * panL[v];
                r += s * panR[v];
            }
        float a = (float)amp * norm;
        l = a * hpL.run(lpL.run(l).low).high;
        r = a * hpR.run(lpR.run(r).low).high;
        target.add(at + i, l, r);
        if (sound.delaySend > 0.0f)
            bus->delay.add(at + i, l * sound.delaySend, r * sound.delaySend);
        if (sound.reverbSend > 0.0f)
            bus->reverb.add(at + i, l * sound.reverbSend, r * sound.reverbSend);
    }
}

// Plucked arpeggio note: sawtooth and square with a snappy filter, 0.3 s.
void pluck(int64_t at, int note, float gain, double cutoffHz, float pan)
{
    const int length = (int)(0.3 * SR);
    double hz = noteHz(note);
    Saw saw;
    Square square;
    Svf lp;
    for (int i = 0; i < length; ++i) {
        double t = i / SR;
        if (i % 16 == 0)
            lp.setup(cutoffHz * (1.0 + 5.0 * std::exp(-t / 0.03)), 1.8);
        double amp = std::exp(-t / 0.09) * std::min(1.0, i / 88.0);
        if (i > length - 441)
            amp *= (length - i) / 441.0;
        float osc = 0.6f * saw.next(hz) + 0.4f * square.next(hz * 1.002);
        float value = (float)(gain * amp) * lp.run(osc).low;
        put(bus->ducked, at + i, value, pan, 0.35f, 0.2f);
    }
}

// Lead note: two detuned oscillators with delayed vibrato, an envelope-opened
// low-pass and generous delay and reverb sends. `square` picks the rounder,
// hollow voice used for the second theme.
void lead(int64_t at, int64_t frames, int note, float gain, bool square)
{
    const int release = (int)(0.09 * SR);
    double hz = noteHz(note);
    Saw sawA, sawB;
    Square sqA, sqB;
    Svf lpA, lpB;
    sawB.phase = sqB.phase = 0.37;
    double vibratoPhase = 0.0;
    for (int64_t i = 0; i < frames + release; ++i) {
        double t = i / SR;
        if (i % 16 == 0) {
            double cut = (square ? 2600.0 : 3400.0) * (1.0 + 1.2 * std::exp(-t / 0.12));
            lpA.setup(cut, 1.0);
            lpB.setup(cut, 1.0);
        }
        double depth = std::min(1.0, std::max(0.0, (t - 0.2) / 0.3)) * 18.0; // cents
        double vib = std::sin(2.0 * PI * vibratoPhase) * depth;
        vibratoPhase += 5.5 / SR;
        double f = hz * std::pow(2.0, vib / 1200.0);
        double amp = std::min(1.0, i / (0.006 * SR));
        amp *= 0.8 + 0.2 * std::exp(-t / 0.15);
        if (i >= frames)
            amp *= 1.0 - (double)(i - frames) / release;
        float a, b;
        if (square) {
            a = sqA.next(f * 1.003);
            b = sqB.next(f * 0.997) * 0.5f + 0.5f * sawB.next(f * 2.0);
        } else {
            a = sawA.next(f * 1.0045);
            b = sawB.next(f * 0.9955);
        }
        float va = (float)(gain * amp) * lpA.run(a).low;
        float vb = (float)(gain * amp) * lpB.run(b).low;
        put(bus->dry, at + i, va, -0.35f, 0.3f, 0.25f);
        put(bus->dry, at + i, vb, 0.35f, 0.3f, 0.25f);
    }
}

// Bell: five inharmonic sine partials, each decaying at its own rate.
void bell(int64_t at, int64_t frames, int note, float gain)
{
    static const double ratio[5] = {1.0, 2.0, 3.01, 4.2, 5.43};
    static const double level[5] = {1.0, 0.45, 0.25, 0.12, 0.07};
    static const double tau[5] = {1.1, 0.55, 0.35, 0.22, 0.14};
    const int64_t length = frames + (int64_t)(1.2 * SR);
    const int64_t fade = (int64_t)(0.03 * SR);
    double hz = noteHz(note);
    for (int64_t i = 0; i < length; ++i) {
        double t = i / SR;
        double value = 0.0;
        for (int p = 0; p < 5; ++p)
            value += level[p] * std::exp(-t / tau[p]) * std::sin(2.0 * PI * hz * ratio[p] * t);
        double amp = std::min(1.0, i / 66.0);
        if (i > length - fade)
            amp *= (double)(length - i) / fade;
        put(bus->dry, at + i, (float)(gain * amp * value), 0.15f, 0.45f, 0.4f);
    }
}

// ---- Harmony and melody ----------------------------------------------------

struct Chord {
    int root;      // bass note, MIDI
    int notes[3];  // pad voicing around middle C, MIDI
};

const Chord AM = {45, {57, 60, 64}};
const Chord FM = {41, {57, 60, 65}};
const Chord CM = {36, {55, 60, 64}};
const Chord GM = {43, {55, 59, 62}};
const Chord EM_MINOR = {40, {55, 59, 64}};
const Chord DM = {38, {57, 62, 65}};
const Chord EM_MAJOR = {40, {56, 59, 64}};

// Melody notes: MIDI note (0 for a rest) and length in sixteenths.
struct Note {
    int note;
    int length;
};

// The main theme: eight bars over Am F C G Am F C G.
const Note THEME_A[] = {
    {76, 4}, {74, 2}, {72, 2}, {74, 2}, {76, 2}, {81, 4},
    {79, 2}, {77, 2}, {76, 2}, {72, 2}, {69, 8},
    {67, 2}, {72, 2}, {76, 2}, {79, 4}, {77, 2}, {76, 2}, {74, 2},
    {74, 6}, {71, 2}, {74, 4}, {79, 4},
    {76, 4}, {74, 2}, {72, 2}, {74, 2}, {76, 2}, {81, 4},
    {84, 4}, {83, 2}, {81, 2}, {79, 2}, {77, 2}, {76, 4},
    {76, 2}, {79, 2}, {84, 4}, {83, 2}, {79, 2}, {76, 4},
    {74, 4}, {76, 2}, {74, 2}, {71, 8},
};

// The horses' theme, four bars over Dm Am F E: a galloping short-short-long figure.
const Note THEME_B[] = {
    {74, 2}, {74, 1}, {74, 1}, {77, 2}, {81, 2}, {79, 2}, {77, 2}, {76, 2}, {74, 2},
    {76, 2}, {76, 1}, {76, 1}, {72, 2}, {69, 2}, {72, 4}, {76, 4},
    {77, 2}, {77, 1}, {77, 1}, {81, 2}, {84, 2}, {81, 4}, {77, 4},
    {80, 4}, {76, 2}, {71, 2}, {76, 8},
};

// The quiet motif of the breakdown, six bars over F G Em Am F E.
const Note MOTIF[] = {
    {81, 4}, {84, 4}, {81, 4}, {79, 4},
    {79, 4}, {83, 4}, {86, 4}, {83, 4},
    {83, 4}, {79, 4}, {76, 8},
    {81, 4}, {76, 4}, {72, 8},
    {81, 4}, {84, 4}, {77, 8},
    {80, 8}, {83, 8},
};

// Plays `count` notes of `melody` starting `skipSixteenths` into it, from
// sixteenth `startStep` on, for at most `maxSixteenths`.
template <typename Play>
void playMelody(const Note* melody, int count, int64_t startStep, int skipSixteenths,
                int maxSixteenths, Play play)
{
    int position = 0;
    for (int k = 0; k < count; ++k) {
        int from = position - skipSixteenths;
        position += melody[k].length;
        if (from < 0 || melody[k].note == 0)
            continue;
        if (from + melody[k].length > maxSixteenths)
            break;
        int64_t begin = stepFrame(startStep + from);
        int64_t end = stepFrame(startStep + from + melody[k].length);
        play(begin, end - begin, melody[k].note);
    }
}

// ---- Sections --------------------------------------------------------------

// A stretch of the track that matches one scene: whole bars, then a fill of one
// or two beats that leads into the next section.
struct Section {
    int startBeat;
    int bars;
    int fillBeats;
};

// Intro, opening words, cube field, the boy's story, the horses, credits, closing.
// Each starts on the beat where its scene starts: 0, 12.5, 25, 63, 75, 100, 125 s.
const Section SECTIONS[7] = {
    {0, 6, 1}, {25, 6, 1}, {50, 19, 0}, {126, 6, 0}, {150, 12, 2}, {200, 12, 2}, {250, 9, 2},
};

int64_t barStep(const Section& s, int bar) { return (int64_t)(s.startBeat + bar * 4) * 4; }
int fillBeat(const Section& s) { return s.startBeat + s.bars * 4; }

void kicks(const Section& s, float gain)
{
    int beats = s.bars * 4 + s.fillBeats;
    for (int b = 0; b < beats; ++b)
        kick(beatFrame(s.startBeat + b), gain);
}

void clapsOnBackBeats(const Section& s, int fromBar, int toBar, float gain)
{
    for (int bar = fromBar; bar < toBar; ++bar) {
        clap(stepFrame(barStep(s, bar) + 4), gain);
        clap(stepFrame(barStep(s, bar) + 12), gain);
    }
}

// Closed hats on every sixteenth (accented on the off-beat eighths) and, if asked,
// open hats on the off-beat eighths.
void hats(const Section& s, int fromBar, int toBar, float gain, bool sixteenths, bool open)
{
    for (int bar = fromBar; bar < toBar; ++bar)
        for (int k = 0; k < 16; ++k) {
            int64_t at = stepFrame(barStep(s, bar) + k);
            bool offEighth = k % 4 == 2;
            if (offEighth && open)
                hat(at, gain * 1.1f, true, -0.25f);
            else if (offEighth)
                hat(at, gain * 1.2f, false, 0.3f);
            else if (sixteenths)
                hat(at, gain * (k % 2 ? 0.65f : 0.85f), false, 0.3f);
        }
}

// A roll of sixteenth snares growing louder, over `beats` beats from `beat`.
void snareRoll(int beat, int beats, float gain)
{
    int hits = beats * 4;
    for (int k = 0; k < hits; ++k)
        snare(stepFrame((int64_t)beat * 4 + k), gain * (0.35f + 0.65f * k / hits));
}

// Bass on sixteenths 1..3 of each beat (rolling) or 2..3 (galloping), leaving the
// kick's sixteenth free.
void bassLine(const Section& s, int bar, const Chord& chord, float gain, double cutoff,
              bool gallop)
{
    for (int beat = 0; beat < 4; ++beat)
        for (int k = gallop ? 2 : 1; k < 4; ++k) {
            int64_t step = barStep(s, bar) + beat * 4 + k;
            int64_t at = stepFrame(step);
            int64_t frames = stepFrame(step + 1) - at - (int64_t)(0.01 * SR);
            int note = chord.root + (!gallop && k == 3 && beat % 2 ? 12 : 0);
            bass(at, frames, note, gain, cutoff, 2.5);
        }
}

void padChord(Stereo& target, int64_t fromStep, int64_t toStep, const Chord& chord,
              const ChordSound& sound)
{
    int64_t at = stepFrame(fromStep);
    supersaw(target, at, stepFrame(toStep) - at, chord.notes, 3, sound);
}

// Short supersaw chords on the off-beat eighths.
void stabs(const Section& s, int bar, const Chord& chord, float gain)
{
    ChordSound sound = {gain, 4200.0, 1400.0, 0.002, 0.04, 0.15f, 0.15f};
    for (int beat = 0; beat < 4; ++beat) {
        int64_t step = barStep(s, bar) + beat * 4 + 2;
        int64_t at = stepFrame(step);
        supersaw(bus->ducked, at, stepFrame(step + 1) - at, chord.notes, 3, sound);
    }
}

// Sixteenth arpeggio an octave above the pad, rising through the chord.
void arpeggio(const Section& s, int bar, const Chord& chord, float gain, double cutoff)
{
    static const int order[8] = {0, 1, 2, 3, 2, 1, 3, 1};
    for (int k = 0; k < 16; ++k) {
        int index = order[k % 8];
        int note = index == 3 ? chord.notes[0] + 24 : chord.notes[index] + 12;
        pluck(stepFrame(barStep(s, bar) + k), note, gain, cutoff, k % 2 ? 0.4f : -0.4f);
    }
}

void leadMelody(const Note* melody, int count, int64_t step, int skip, int length, float gain,
                bool square, int transpose = 0)
{
    playMelody(melody, count, step, skip, length, [&](int64_t at, int64_t frames, int note) {
        lead(at, frames - (int64_t)(0.02 * SR), note + transpose, gain, square);
    });
}

void bellMelody(const Note* melody, int count, int64_t step, int length, float gain)
{
    playMelody(melody, count, step, 0, length, [&](int64_t at, int64_t frames, int note) {
        bell(at, frames, note, gain);
    });
}

const int THEME_A_COUNT = sizeof(THEME_A) / sizeof(THEME_A[0]);
const int THEME_B_COUNT = sizeof(THEME_B) / sizeof(THEME_B[0]);
const int MOTIF_COUNT = sizeof(MOTIF) / sizeof(MOTIF[0]);

// 0..12.5 s: the kick and a pad opening up, hats joining, a riser into the tube.
void intro(const Section& s)
{
    static const Chord chords[6] = {AM, FM, CM, GM, AM, FM};
    kicks(s, 0.85f);
    for (int bar = 0; bar < s.bars; ++bar) {
        double from = 300.0 * std::pow(14.0, bar / 6.0);
        double to = 300.0 * std::pow(14.0, (bar + 1) / 6.0);
        padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chords[bar],
                 {0.3f, from, to, 0.06, 0.25, 0.0f, 0.45f});
    }
    padChord(bus->ducked, barStep(s, s.bars), barStep(s, s.bars) + 4, EM_MAJOR,
             {0.3f, 4200.0, 4200.0, 0.02, 0.2, 0.0f, 0.45f});
    hats(s, 2, s.bars, 0.07f, false, false);
    hats(s, 4, s.bars, 0.05f, true, false);
    riser(beatFrame(17), beatFrame(25), 0.22f);
    snareRoll(fillBeat(s), 1, 0.21f);
}

// 12.5..25 s: rolling bass and an arpeggio under the opening words.
void openingWords(const Section& s)
{
    static const Chord chords[6] = {AM, FM, CM, GM, AM, EM_MAJOR};
    crash(beatFrame(s.startBeat), 0.22f);
    kicks(s, 1.0f);
    for (int bar = 0; bar < s.bars; ++bar) {
        double rise = bar / (double)s.bars;
        bassLine(s, bar, chords[bar], 0.24f, 320.0 + 300.0 * rise, false);
        arpeggio(s, bar, chords[bar], 0.11f, 700.0 + 1600.0 * rise);
        padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chords[bar],
                 {0.13f, 1500.0, 1500.0, 0.05, 0.2, 0.0f, 0.35f});
    }
    padChord(bus->ducked, barStep(s, s.bars), barStep(s, s.bars) + 4, EM_MAJOR,
             {0.13f, 1500.0, 3000.0, 0.02, 0.2, 0.0f, 0.35f});
    bass(beatFrame(fillBeat(s)), BEAT_FRAMES / 2, EM_MAJOR.root, 0.3f, 700.0, 2.5);
    hats(s, 0, s.bars, 0.08f, true, false);
    hats(s, 2, s.bars, 0.08f, false, true);
    riser(beatFrame(fillBeat(s) - 4), beatFrame(fillBeat(s) + 1), 0.19f);
    snareRoll(fillBeat(s), 1, 0.28f);
}

// 25..63 s: the full groove under the flight over the cube field; the main
// theme twice, the arpeggio joining the second time, a one-bar build at the end.
void cubeField(const Section& s)
{
    Chord chords[19];
    chords[0] = FM;
    chords[1] = GM;
    static const Chord loop[4] = {AM, FM, CM, GM};
    for (int bar = 2; bar < 18; ++bar)
        chords[bar] = loop[(bar - 2) % 4];
    chords[18] = EM_MAJOR;
    crash(beatFrame(s.startBeat), 0.25f);
    crash(stepFrame(barStep(s, 2)), 0.22f);
    crash(stepFrame(barStep(s, 10)), 0.22f);
    kicks(s, 1.0f);
    clapsOnBackBeats(s, 0, 18, 0.3f);
    for (int bar = 0; bar < s.bars; ++bar) {
        bassLine(s, bar, chords[bar], 0.26f, 650.0, false);
        stabs(s, bar, chords[bar], 0.22f);
        if (bar >= 2 && bar < 18)
            padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chords[bar],
                     {0.08f, 2200.0, 2200.0, 0.05, 0.2, 0.0f, 0.3f});
        if (bar >= 10 && bar < 18)
            arpeggio(s, bar, chords[bar], 0.075f, 1800.0);
    }
    hats(s, 0, 18, 0.085f, true, true);
    leadMelody(THEME_A, THEME_A_COUNT, barStep(s, 2), 0, 8 * 16, 0.2f, false);
    leadMelody(THEME_A, THEME_A_COUNT, barStep(s, 10), 0, 8 * 16, 0.2f, false);
    snareRoll(s.startBeat + 18 * 4, 4, 0.32f);
    riser(stepFrame(barStep(s, 17)), stepFrame(barStep(s, 19)), 0.22f);
}

// 63..75 s: the breakdown under the boy's story: soft kick, wide pads, a bell motif.
void boysStory(const Section& s)
{
    static const Chord chords[6] = {FM, GM, EM_MINOR, AM, FM, EM_MAJOR};
    crash(beatFrame(s.startBeat), 0.18f);
    kicks(s, 0.6f);
    for (int bar = 0; bar < s.bars; ++bar) {
        padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chords[bar],
                 {0.2f, 1200.0, 2600.0, 0.15, 0.4, 0.0f, 0.5f});
        int64_t at = stepFrame(barStep(s, bar));
        bass(at, stepFrame(barStep(s, bar + 1)) - at - 441, chords[bar].root, 0.22f, 220.0, 0.5,
             0.6f);
    }
    bellMelody(MOTIF, MOTIF_COUNT, barStep(s, 0), 6 * 16, 0.16f);
    hats(s, 4, s.bars, 0.06f, false, false);
    riser(stepFrame(barStep(s, 4)), stepFrame(barStep(s, 6)), 0.22f);
    snareRoll(s.startBeat + 22, 2, 0.28f);
}

// 75..100 s: the horses: a galloping bass and the second theme on a square lead.
void horses(const Section& s)
{
    static const Chord loop[4] = {DM, AM, FM, EM_MAJOR};
    crash(beatFrame(s.startBeat), 0.25f);
    crash(stepFrame(barStep(s, 4)), 0.22f);
    kicks(s, 1.0f);
    clapsOnBackBeats(s, 4, s.bars, 0.3f);
    for (int bar = 0; bar < s.bars; ++bar) {
        const Chord& chord = loop[bar % 4];
        bassLine(s, bar, chord, 0.29f, 600.0, true);
        arpeggio(s, bar, chord, 0.085f, bar < 4 ? 900.0 + 250.0 * bar : 1900.0);
        padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chord,
                 {bar < 4 ? 0.15f : 0.075f, 1800.0, 2400.0, 0.05, 0.2, 0.0f, 0.35f});
    }
    padChord(bus->ducked, barStep(s, s.bars), barStep(s, s.bars) + 8, EM_MAJOR,
             {0.12f, 2000.0, 4000.0, 0.02, 0.2, 0.0f, 0.35f});
    hats(s, 0, s.bars, 0.08f, true, false);
    hats(s, 4, s.bars, 0.08f, false, true);
    leadMelody(THEME_B, THEME_B_COUNT, barStep(s, 4), 0, 4 * 16, 0.22f, true);
    leadMelody(THEME_B, THEME_B_COUNT, barStep(s, 8), 0, 4 * 16, 0.22f, true);
    snareRoll(fillBeat(s), 2, 0.32f);
    riser(beatFrame(fillBeat(s) - 6), beatFrame(fillBeat(s) + 2), 0.22f);
}

// 100..125 s: the climax under the credits: the main theme doubled an octave up.
void credits(const Section& s)
{
    static const Chord loop[4] = {AM, FM, CM, GM};
    crash(beatFrame(s.startBeat), 0.26f);
    crash(stepFrame(barStep(s, 8)), 0.22f);
    kicks(s, 1.0f);
    clapsOnBackBeats(s, 0, s.bars, 0.3f);
    for (int bar = 0; bar < s.bars; ++bar) {
        const Chord& chord = loop[bar % 4];
        bassLine(s, bar, chord, 0.27f, 850.0, false);
        stabs(s, bar, chord, 0.2f);
        arpeggio(s, bar, chord, 0.07f, 2200.0);
        padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chord,
                 {0.08f, 2400.0, 2400.0, 0.05, 0.2, 0.0f, 0.3f});
    }
    padChord(bus->ducked, barStep(s, s.bars), barStep(s, s.bars) + 8, EM_MAJOR,
             {0.12f, 2000.0, 4000.0, 0.02, 0.2, 0.0f, 0.35f});
    hats(s, 0, s.bars, 0.09f, true, true);
    leadMelody(THEME_A, THEME_A_COUNT, barStep(s, 0), 0, 8 * 16, 0.19f, false);
    leadMelody(THEME_A, THEME_A_COUNT, barStep(s, 0), 0, 8 * 16, 0.09f, false, 12);
    // The last four bars repeat the second half of the theme.
    leadMelody(THEME_A, THEME_A_COUNT, barStep(s, 8), 4 * 16, 4 * 16, 0.19f, false);
    leadMelody(THEME_A, THEME_A_COUNT, barStep(s, 8), 4 * 16, 4 * 16, 0.09f, false, 12);
    snareRoll(fillBeat(s), 2, 0.32f);
    riser(beatFrame(fillBeat(s) - 6), beatFrame(fillBeat(s) + 2), 0.22f);
}

// 125..144 s: the closing picture: the theme on bells over a calmer groove,
// ending on a held A minor chord; the master fades it out over the last 4 s.
void closing(const Section& s)
{
    static const Chord loop[4] = {AM, FM, CM, GM};
    crash(beatFrame(s.startBeat), 0.26f);
    kicks(s, 0.9f);
    for (int bar = 0; bar < 8; ++bar) {
        const Chord& chord = loop[bar % 4];
        double fall = bar / 8.0;
        bassLine(s, bar, chord, 0.24f, 700.0 - 300.0 * fall, false);
        arpeggio(s, bar, chord, 0.08f, 2000.0 - 1000.0 * fall);
        padChord(bus->ducked, barStep(s, bar), barStep(s, bar + 1), chord,
                 {0.15f, 2200.0, 2200.0, 0.05, 0.25, 0.0f, 0.4f});
    }
    padChord(bus->ducked, barStep(s, 8), barStep(s, 8) + 4 * 4 + 8, AM,
             {0.26f, 2200.0, 500.0, 0.05, 0.5, 0.0f, 0.5f});
    bass(stepFrame(barStep(s, 8)), BEAT_FRAMES * 6, AM.root, 0.25f, 250.0, 1.0, 0.6f);
    hats(s, 0, 8, 0.07f, false, true);
    bellMelody(THEME_A, THEME_A_COUNT, barStep(s, 0), 8 * 16, 0.17f);
    bell(stepFrame(barStep(s, 8)), BEAT_FRAMES * 4, 81, 0.17f);
}

// Gain of the side-chained bus `frame` frames into the track: every kick pushes it
// down by `depth` within 1.5 ms and lets it recover over 0.3 s.
float duckGain(int64_t frame, float depth)
{
    int64_t t = frame % BEAT_FRAMES;
    const int attack = 64;
    const double recover = 0.3 * SR;
    double d;
    if (t < attack)
        d = (double)t / attack;
    else if (t - attack < recover) {
        double x = 1.0 - (t - attack) / recover;
        d = x * x;
    } else
        d = 0.0;
    return (float)(1.0 - depth * d);
}

// Smooth limiter curve: linear near 0, flat at +-1 from |x| = 1.5 on.
float softClip(float x)
{
    if (x >= 1.5f)
        return 1.0f;
    if (x <= -1.5f)
        return -1.0f;
    return x - (4.0f / 27.0f) * x * x * x;
}

} // namespace

std::vector<int16_t> synthesizeMusic(MusicStats* stats)
{
    Buses buses(TRACK_FRAMES);
    bus = &buses;
    intro(SECTIONS[0]);
    openingWords(SECTIONS[1]);
    cubeField(SECTIONS[2]);
    boysStory(SECTIONS[3]);
    horses(SECTIONS[4]);
    credits(SECTIONS[5]);
    closing(SECTIONS[6]);

    Stereo mix(TRACK_FRAMES);
    // Dotted-eighth echo: three sixteenths of a beat.
    pingPongDelay(buses.delay, mix, BEAT_FRAMES * 3 / 4, 0.38f, 0.35f);
    roomReverb(buses.reverb, mix, 0.82f, 0.45f, 1.8f);
    bus = nullptr;

    // Master: sum (the echoes and the reverb duck with the kick too), remove any DC
    // with a 20 Hz high-pass, shape the peaks, fade.
    const double drive = 1.1;
    const int64_t fadeStart = 140LL * SAMPLE_RATE;
    const int64_t fadeFrames = TRACK_FRAMES - fadeStart;
    double hpCoef = std::exp(-2.0 * PI * 20.0 / SR);
    double prevInL = 0.0, prevInR = 0.0, prevOutL = 0.0, prevOutR = 0.0;
    float peak = 0.0f;
    for (int64_t i = 0; i < TRACK_FRAMES; ++i) {
        float duck = duckGain(i, 0.8f);
        double inL = buses.kick.left[i] + buses.dry.left[i] + duck * (buses.ducked.left[i] + mix.left[i]);
        double inR = buses.kick.right[i] + buses.dry.right[i] + duck * (buses.ducked.right[i] + mix.right[i]);
        double outL = hpCoef * (prevOutL + inL - prevInL);
        double outR = hpCoef * (prevOutR + inR - prevInR);
        prevInL = inL;
        prevInR = inR;
        prevOutL = outL;
        prevOutR = outR;
        float gain = 1.0f;
        if (i >= fadeStart)
            gain = (float)(TRACK_FRAMES - i) / fadeFrames;
        float l = gain * softClip((float)(drive * outL));
        float r = gain * softClip((float)(drive * outR));
        mix.left[i] = l;
        mix.right[i] = r;
        peak = std::max(peak, std::max(std::fabs(l), std::fabs(r)));
    }

    // Normalise the highest peak to -1.7 dBFS: the saturated kick overshoots by
    // about 0.7 dB once MP3 coding has band-limited it, so the decoded peak lands
    // near -1 dBFS.
    const double target = std::pow(10.0, -1.7 / 20.0);
    const double scale = peak > 0.0f ? target / peak * 32768.0 : 0.0;
    std::vector<int16_t> pcm(TRACK_FRAMES * 2);
    double sumSquares = 0.0;
    int maxSample = 0;
    for (int64_t i = 0; i < TRACK_FRAMES; ++i) {
        for (int c = 0; c < 2; ++c) {
            double v = std::lround((c ? mix.right[i] : mix.left[i]) * scale);
            v = std::min(32767.0, std::max(-32768.0, v));
            pcm[i * 2 + c] = (int16_t)v;
            sumSquares += v * v;
            maxSample = std::max(maxSample, (int)std::fabs(v));
        }
    }
    if (stats) {
        stats->peakDbfs = 20.0 * std::log10(std::max(1, maxSample) / 32768.0);
        stats->rmsDbfs = 10.0 * std::log10(sumSquares / (TRACK_FRAMES * 2.0) / (32768.0 * 32768.0));
    }
    return pcm;
}

} // namespace assets

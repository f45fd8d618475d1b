// Plots the music level against time, as the frame loop computes it (mean of the first 40
// spectrum values), sampled every 1/60 s over the whole track, with the waveform's peaks
// behind it and a 4-second close-up. Prints the level's range and its strongest period.
// Usage: music-level-plot MUSIC.mp3 OUT.png [CLOSE_UP_START_S]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/asset_file.h"
#include "app/timeline.h"
#include "audio/music_track.h"
#include "tools/common/arguments.h"
#include "tools/common/canvas.h"
#include "tools/common/png_file.h"

namespace {

constexpr double STEP_S = 1.0 / 60.0;  // one frame at 60 Hz
constexpr double CLOSE_UP_S = 4.0;

const Rgb WHITE{255, 255, 255}, AXIS{60, 60, 60}, GRID{225, 225, 225}, WAVE{200, 205, 215},
    LEVEL{20, 60, 170}, TEXT{20, 20, 20};

// The file as the demo reads it: regular files only, at most ASSET_MAX_BYTES.
bool readFile(const char* path, std::vector<unsigned char>& bytes, std::string& reason) {
    size_t size = 0;
    unsigned char* block = readAssetFile(path, ASSET_MAX_BYTES, size, reason);
    if (!block) return false;
    bytes.assign(block, block + size);
    delete[] block;
    return true;
}

// A tick spacing near span / 8 from 1, 2, 5 times a power of ten.
double niceStep(double span) {
    const double raw = span / 8.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) return m * power;
    return 10.0 * power;
}

std::string format(double value, double step) {
    char text[32];
    std::snprintf(text, sizeof text, step >= 1.0 ? "%.0f" : step >= 0.1 ? "%.1f" : "%.2f", value);
    return text;
}

struct Panel {
    int x, y, w, h;          // pixels
    double t0, t1;           // seconds shown
    double levelMax;         // top of the level axis
};

int xOf(const Panel& p, double t) { return p.x + int(std::lround((t - p.t0) / (p.t1 - p.t0) * (p.w - 1))); }
int yOf(const Panel& p, double level) {
    return p.y + p.h - 1 - int(std::lround(std::min(level / p.levelMax, 1.0) * (p.h - 1)));
}

void drawPanel(Canvas& canvas, const Panel& p, const MusicTrack& track, const std::vector<float>& levels,
               const std::string& title) {
    canvas.fillRect(p.x, p.y, p.w, p.h, WHITE);
    const double tStep = niceStep(p.t1 - p.t0), lStep = niceStep(p.levelMax);
    for (double t = std::ceil(p.t0 / tStep) * tStep; t <= p.t1 + 1e-9; t += tStep) {
        canvas.line(xOf(p, t), p.y, xOf(p, t), p.y + p.h - 1, GRID);
        canvas.text(xOf(p, t) - 8, p.y + p.h + 16, format(t, tStep), 13, TEXT);
    }
    for (double l = 0.0; l <= p.levelMax + 1e-9; l += lStep) {
        canvas.line(p.x, yOf(p, l), p.x + p.w - 1, yOf(p, l), GRID);
        canvas.text(p.x - 40, yOf(p, l) + 5, format(l, lStep), 13, TEXT);
    }
    // The waveform's peak per pixel column, scaled to the panel, behind the level.
    for (int column = 0; column < p.w; ++column) {
        const int64_t f0 = int64_t((p.t0 + (p.t1 - p.t0) * column / p.w) * MUSIC_RATE);
        const int64_t f1 = int64_t((p.t0 + (p.t1 - p.t0) * (column + 1) / p.w) * MUSIC_RATE);
        float peak = 0.0f;
        for (int64_t f = std::max<int64_t>(f0, 0); f < std::min<int64_t>(f1, track.frameCount); ++f)
            peak = std::max(peak, std::fabs(0.5f * (track.samples[2 * f] + track.samples[2 * f + 1])));
        const int height = int(peak * (p.h - 1));
        canvas.fillRect(p.x + column, p.y + p.h - height, 1, height, WAVE);
    }
    int previousX = -1, previousY = 0;
    for (size_t k = 0; k < levels.size(); ++k) {
        const double t = k * STEP_S;
        if (t < p.t0 || t > p.t1) continue;
        const int x = xOf(p, t), y = yOf(p, levels[k]);
        if (previousX >= 0) canvas.line(previousX, previousY, x, y, LEVEL);
        if (previousX >= 0) canvas.line(previousX, previousY + 1, x, y + 1, LEVEL);
        previousX = x, previousY = y;
    }
    canvas.line(p.x, p.y + p.h, p.x + p.w - 1, p.y + p.h, AXIS);
    canvas.line(p.x - 1, p.y, p.x - 1, p.y + p.h, AXIS);
    canvas.text(p.x, p.y - 8, title, 15, TEXT);
}

// The period (s) between 0.25 and 2 s at which the level best matches itself.
double strongestPeriod(const std::vector<float>& levels, double* strength) {
    double mean = 0.0;
    for (float l : levels) mean += l;
    mean /= std::max<size_t>(levels.size(), 1);
    double zero = 0.0;
    for (float l : levels) zero += (l - mean) * (l - mean);
    double best = 0.0;
    int bestLag = 0;
    for (int lag = int(0.25 / STEP_S); lag <= int(2.0 / STEP_S) && lag < int(levels.size()); ++lag) {
        double sum = 0.0;
        for (size_t k = lag; k < levels.size(); ++k) sum += (levels[k] - mean) * (levels[k - lag] - mean);
        if (sum > best) best = sum, bestLag = lag;
    }
    *strength = zero > 0.0 ? best / zero : 0.0;
    return bestLag * STEP_S;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: music-level-plot MUSIC.mp3 OUT.png [CLOSE_UP_START_S]\n");
        return 2;
    }
    std::vector<unsigned char> bytes;
    std::string reason;
    if (!readFile(argv[1], bytes, reason)) {
        std::fprintf(stderr, "music-level-plot: %s: %s\n", argv[1], reason.c_str());
        return 1;
    }
    MusicTrack track;
    if (!decodeMusic(bytes.data(), bytes.size(), track, &reason)) {
        std::fprintf(stderr, "music-level-plot: %s: %s\n", argv[1], reason.c_str());
        return 1;
    }
    if (!reason.empty()) std::fprintf(stderr, "music-level-plot: %s: %s\n", argv[1], reason.c_str());
    const double duration = double(track.frameCount) / MUSIC_RATE;

    // What the frame loop would see at every 1/60 s while that moment is heard.
    std::vector<float> levels;
    float values[SPECTRUM_SIZE];
    float highest = 0.0f;
    double sum = 0.0;
    for (int64_t k = 0; k * STEP_S < duration; ++k) {
        computeSpectrum(track, std::llround(k * STEP_S * MUSIC_RATE), values);
        levels.push_back(computeMusicLevel(values));
        highest = std::max(highest, levels.back());
        sum += levels.back();
    }
    double strength = 0.0;
    const double period = strongestPeriod(levels, &strength);

    // The close-up: the given start, or the 4 s in which the level swings the most.
    double closeStart = 0.0;
    if (argc == 4) {
        if (!parseNumberArgument(argv[3], 0.0, double(MUSIC_MAX_SECONDS), closeStart)) {
            std::fprintf(stderr, "music-level-plot: close-up start %s: expected seconds from 0 to %d\n", argv[3],
                         MUSIC_MAX_SECONDS);
            return 2;
        }
        closeStart = std::min(closeStart, std::max(duration - CLOSE_UP_S, 0.0));
    } else {
        double bestSwing = -1.0;
        const size_t span = size_t(CLOSE_UP_S / STEP_S);
        for (size_t first = 0; first + span <= levels.size(); first += size_t(1.0 / STEP_S)) {
            const auto [lo, hi] = std::minmax_element(levels.begin() + first, levels.begin() + first + span);
            if (*hi - *lo > bestSwing) bestSwing = *hi - *lo, closeStart = first * STEP_S;
        }
    }

    const double levelMax = std::max(0.05, std::ceil(highest / 0.05) * 0.05);
    Canvas canvas(1600, 820, Rgb{245, 245, 245});
    char title[256];
    std::snprintf(title, sizeof title, "Music level (blue; mean of spectrum values 0..39) every 1/60 s, waveform peaks (grey; panel height = full scale): %s, %.1f s",
                  argv[1], duration);
    canvas.text(70, 30, title, 16, TEXT);
    drawPanel(canvas, {70, 70, 1500, 300, 0.0, duration, levelMax}, track, levels, "Whole track (s)");
    std::snprintf(title, sizeof title, "Close-up %.1f to %.1f s",
                  closeStart, closeStart + CLOSE_UP_S);
    drawPanel(canvas, {70, 450, 1500, 300, closeStart, std::min(closeStart + CLOSE_UP_S, duration), levelMax},
              track, levels, title);
    std::snprintf(title, sizeof title, "level: mean %.4f, max %.4f; strongest period %.3f s (%.1f per minute), "
                  "autocorrelation %.2f", sum / std::max<size_t>(levels.size(), 1), highest, period,
                  period > 0 ? 60.0 / period : 0.0, strength);
    canvas.text(70, 800, title, 15, TEXT);

    std::string error;
    if (!writePng(argv[2], canvas.width, canvas.height, canvas.rgba.data(), &error)) {
        std::fprintf(stderr, "music-level-plot: %s: %s\n", argv[2], error.c_str());
        return 1;
    }
    std::printf("%s: %.2f s, %zu levels, mean %.4f, max %.4f, strongest period %.3f s (%.1f per minute, "
                "autocorrelation %.2f), close-up from %.1f s\n",
                argv[1], duration, levels.size(), sum / std::max<size_t>(levels.size(), 1), highest, period,
                period > 0 ? 60.0 / period : 0.0, strength, closeStart);
    return 0;
}

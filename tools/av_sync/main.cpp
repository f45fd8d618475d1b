// av-sync: measures how far the music level the picture shows is from the sound a
// listener hears, through a real sound server (tools/av-sync.sh drives it).
//   av-sync track OUT.mp3          writes the click test track, prints its frame count
//   av-sync play TRACK.mp3 LOG     plays it through the demo's music player on SDL's
//                                  default output and logs its frames as the demo does
//                                  with VELMORA_FRAME_LOG; status 3 when the output
//                                  (the sound server) would not take the stream
//   av-sync stamp OUT              stores float mono samples from stdin (a recorder's
//                                  output) in OUT.raw and when each read arrived in
//                                  OUT.stamps
//   av-sync analyse TRACK.mp3 [--stall-ms MS] [--goal-ms MEDIAN WORST] NAME DIR [NAME DIR ...]
//                                  offsets per click for each server's run in DIR
//                                  against the goal (15 and 30 ms unless given)
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/timeline.h"
#include "audio/music_player.h"
#include "audio/sound_device.h"
#include "tools/av_sync/click_track.h"
#include "tools/av_sync/sync_analysis.h"
#include "tools/make_assets/encode.h"

namespace {

constexpr int NO_OUTPUT = 3;  // play's status when the server refused the stream

int fail(const std::string& what) {
    std::fprintf(stderr, "av-sync: %s\n", what.c_str());
    return 1;
}

// Closes `file`: empty when every write to it and the close succeeded, else why not.
std::string closeChecked(std::FILE* file) {
    const bool failedBefore = std::ferror(file) != 0;
    std::string why = failedBefore ? "a write failed" : "";
    if (std::fclose(file) != 0) why = std::strerror(errno);
    return why;
}

std::string cannotWrite(const std::string& path, const std::string& why) { return "cannot write " + path + ": " + why; }

bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    unsigned char block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    return true;
}

int writeTrack(const std::string& path) {
    std::string error;
    const std::vector<int16_t> pcm = synthesizeClickTrack();
    if (!assets::writeMp3(path, pcm, 192, error)) return fail(path + ": " + error);
    std::printf("%zu\n", pcm.size() / 2);
    return 0;
}

// The frame loop of the demo without the drawing: each "frame" takes the music level
// exactly as the demo does and counts as presented at once (it draws nothing). The log
// has the demo's frame log format. Frames
// are paced at 2 ms on the monotonic clock, fine enough to resolve the offsets without
// taking a whole core from the sound server.
int play(const std::string& trackPath, const std::string& logPath) {
    std::FILE* log = std::fopen(logPath.c_str(), "w");
    if (!log) return fail(cannotWrite(logPath, std::strerror(errno)));
    if (!musicPlayer.initMusic()) return fail("no sound output"), NO_OUTPUT;
    if (!musicPlayer.loadStream(0, trackPath.c_str())) return fail("cannot load " + trackPath);
    const MusicTrack* track = musicPlayer.track(0);
    const int64_t endFrame = track->frameCount + MUSIC_RATE / 2;
    std::vector<LoggedFrame> frames;
    std::vector<SoundHandOver> handOvers;  // the newest hand-over at each frame
    std::vector<int> latencies;            // the output's latency at each frame
    frames.reserve(size_t(endFrame / MUSIC_RATE + 12) * 600);
    handOvers.reserve(frames.capacity());
    latencies.reserve(frames.capacity());

    musicPlayer.playStream(0, 0);
    const int64_t startNs = soundClockNs();
    const int64_t limitNs = startNs + (endFrame / MUSIC_RATE + 10) * 1000000000LL;
    int64_t tick = startNs;
    for (;;) {
        tick += 2000000;
        const int64_t wait = tick - soundClockNs();
        if (wait > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
        const float level = computeMusicLevel(musicPlayer.spectrum());
        const int64_t now = soundClockNs();
        const int64_t heard = heardFrame();
        frames.push_back({now, level, heard});
        handOvers.push_back(lastHandOver());
        latencies.push_back(soundLatencyFrames());
        if (heard >= endFrame || now > limitNs) break;
    }
    std::fprintf(log, "# driver %s buffer %d latency %d\n", soundDriverName(), soundBufferFrames(),
                 soundLatencyFrames());
    for (size_t i = 0; i < frames.size(); ++i)
        std::fprintf(log, "%lld %.6f %lld %lld %lld %d\n", static_cast<long long>(frames[i].timeNs), frames[i].level,
                     static_cast<long long>(frames[i].heard), static_cast<long long>(handOvers[i].frame),
                     static_cast<long long>(handOvers[i].timeNs), latencies[i]);
    musicPlayer.stopStream(0);
    musicPlayer.closeMusic();
    const std::string why = closeChecked(log);
    return why.empty() ? 0 : fail(cannotWrite(logPath, why));
}

int stamp(const std::string& out) {
    std::FILE* raw = std::fopen((out + ".raw").c_str(), "wb");
    std::FILE* stamps = std::fopen((out + ".stamps").c_str(), "w");
    if (!raw || !stamps) return fail(cannotWrite(out + (raw ? ".stamps" : ".raw"), std::strerror(errno)));
    static char block[1 << 16];
    int64_t bytes = 0;
    for (;;) {
        const ssize_t got = read(0, block, sizeof block);
        if (got <= 0) break;
        const int64_t now = soundClockNs();
        bytes += got;
        std::fwrite(block, 1, size_t(got), raw);
        std::fprintf(stamps, "%lld %lld\n", static_cast<long long>(now),
                     static_cast<long long>(bytes / int64_t(sizeof(float))));
    }
    const std::string rawWhy = closeChecked(raw), stampsWhy = closeChecked(stamps);
    if (!rawWhy.empty()) return fail(cannotWrite(out + ".raw", rawWhy));
    return stampsWhy.empty() ? 0 : fail(cannotWrite(out + ".stamps", stampsWhy));
}

struct ServerRun {
    std::string name;
    std::string driver;
    int buffer = 0;   // frames per device buffer
    int latency = 0;  // frames the heard position assumed between hand-over and hearing
    int sinkRate = 0;
    std::vector<LoggedFrame> frames;
    std::vector<double> latenciesMs;  // the output's latency at each frame, where logged
    std::vector<float> recording;  // mono at sinkRate
    std::vector<ChunkStamp> stamps;
};

bool loadRun(const std::string& dir, ServerRun& run, std::string* error) {
    std::FILE* log = std::fopen((dir + "/frames.log").c_str(), "r");
    if (!log) return *error = dir + "/frames.log missing", false;
    char driver[64] = "";
    if (std::fscanf(log, "# driver %63s buffer %d latency %d\n", driver, &run.buffer, &run.latency) != 3)
        return std::fclose(log), *error = dir + "/frames.log: no header", false;
    run.driver = driver;
    long long t, h, handOver, handOverNs;
    float level;
    int latency;
    char line[256];
    while (std::fgets(line, sizeof line, log)) {
        const int fields =
            std::sscanf(line, "%lld %f %lld %lld %lld %d", &t, &level, &h, &handOver, &handOverNs, &latency);
        if (fields < 3) break;
        run.frames.push_back({t, level, h});
        if (fields == 6) run.latenciesMs.push_back(latency * 1000.0 / MUSIC_RATE);
    }
    std::fclose(log);

    std::FILE* rate = std::fopen((dir + "/sink-rate").c_str(), "r");
    if (!rate || std::fscanf(rate, "%d", &run.sinkRate) != 1 || run.sinkRate <= 0)
        return rate && std::fclose(rate), *error = dir + "/sink-rate missing", false;
    std::fclose(rate);

    std::vector<unsigned char> bytes;
    if (!readFile(dir + "/monitor.raw", bytes)) return *error = dir + "/monitor.raw missing", false;
    run.recording.resize(bytes.size() / sizeof(float));
    std::memcpy(run.recording.data(), bytes.data(), run.recording.size() * sizeof(float));

    std::FILE* stamps = std::fopen((dir + "/monitor.stamps").c_str(), "r");
    if (!stamps) return *error = dir + "/monitor.stamps missing", false;
    long long n;
    while (std::fscanf(stamps, "%lld %lld\n", &t, &n) == 2) run.stamps.push_back({t, n});
    std::fclose(stamps);
    if (run.frames.size() < 100 || run.stamps.size() < 10) return *error = dir + ": run too short", false;
    return true;
}

struct ClickTruth {
    int64_t onset;    // frame of the track where the click starts
    float threshold;  // half of the click's steady music level
    int64_t shows;    // first heard frame whose level reaches the threshold
};

// Where each click starts in the decoded track, and the level a frame must show: half
// way up to the level the click holds once the analysis window is inside it. (The level
// overshoots that at the onset itself for a few ms, which a frame may never sample.)
std::vector<ClickTruth> clicksOf(const MusicTrack& track) {
    std::vector<float> mono(size_t(track.frameCount));
    for (int64_t f = 0; f < track.frameCount; ++f) mono[size_t(f)] = track.samples[size_t(f) * 2];
    std::vector<ClickTruth> clicks;
    float spectrum[SPECTRUM_SIZE];
    for (int64_t onset : findOnsets(mono, float(CLICK_AMPLITUDE / 2), CLICK_FRAMES * 2)) {
        computeSpectrum(track, onset + CLICK_FRAMES / 2, spectrum);
        ClickTruth click{onset, computeMusicLevel(spectrum) / 2, -1};
        for (int64_t f = onset - SPECTRUM_WINDOW; f < onset + SPECTRUM_WINDOW && click.shows < 0; ++f) {
            computeSpectrum(track, f, spectrum);
            if (computeMusicLevel(spectrum) >= click.threshold) click.shows = f;
        }
        clicks.push_back(click);
    }
    return clicks;
}

struct Goal {
    double medianMs = 15.0;  // median |offset| per server
    double worstMs = 30.0;   // every click
};

// How one server's run came out.
enum class RunResult { Met, Missed, Disturbed, Incomplete };

// Prints one server's clicks; adds its offsets (ms, picture minus sound) to `all`. A
// click whose showing frame came more than `stallMs` after the frame before (0: not
// judged), that the sink played more than 20 ms later than the track's spacing from
// the click before (the server dropped out in between), or that the recording shows
// near a step of the sink's clock (the recorder lost frames there), says more about a
// loaded machine than about the heard position; it is counted and marked. A run that
// misses the goal with such clicks is Disturbed rather than Missed.
RunResult analyseRun(const ServerRun& run, const std::vector<ClickTruth>& clicks, double stallMs, Goal goal,
                     std::vector<double>& all) {
    const SinkClock clock = fitSinkClock(run.stamps, run.sinkRate);
    std::vector<int64_t> trackOnsets;
    for (const ClickTruth& c : clicks) trackOnsets.push_back(c.onset);
    const std::vector<int64_t> heard =
        matchClicks(findOnsets(run.recording, float(CLICK_AMPLITUDE / 2), run.sinkRate / 5), run.sinkRate,
                    trackOnsets, MUSIC_RATE, 400.0);
    std::printf("%s: SDL driver %s, buffer %d frames (%.1f ms), assumed latency %d frames, sink %d Hz in blocks of "
                "%lld frames (%.1f ms), %zu frames logged, sink clock drift %.0f us/s\n",
                run.name.c_str(), run.driver.c_str(), run.buffer, run.buffer * 1000.0 / MUSIC_RATE, run.latency,
                run.sinkRate,
                static_cast<long long>(clock.blockFrames), double(clock.blockFrames) * 1000.0 / run.sinkRate,
                run.frames.size(), clock.driftNsPerS / 1000.0);
    if (!run.latenciesMs.empty()) {
        const auto [least, most] = std::minmax_element(run.latenciesMs.begin(), run.latenciesMs.end());
        std::printf("%s: output latency %.1f ms median, %.1f to %.1f ms over the run\n", run.name.c_str(),
                    median(run.latenciesMs), *least, *most);
    }
    if (heard[0] < 0) {
        std::printf("%s: no click reached the sink\n", run.name.c_str());
        return RunResult::Incomplete;
    }
    // Each click is timed by the sink clock of the quarter second after it. A steady
    // sink's envelope moves well under 0.1 ms from one quarter second to the next; a
    // step of 2 ms is a fraction of the smallest block a recorder can lose (5 ms).
    const int64_t window = run.sinkRate / 4;
    const std::vector<ClockStep> steps = findClockSteps(run.stamps, run.sinkRate, window, 2e6);
    for (const ClockStep& step : steps)
        std::printf("  sink clock steps %+.1f ms at %.3f s of the recording\n", step.stepNs / 1e6,
                    double(step.frame) / run.sinkRate);
    std::vector<double> offsets;
    double worstGap = 0.0;
    size_t disturbed = 0;
    for (size_t k = 0; k < clicks.size(); ++k) {
        bool droppedOut = false;
        if (heard[k] < 0) {
            // Lost in the recording when the sink clock stepped between the clicks heard
            // before and after it (the recorder dropped the blocks that held it).
            int64_t before = 0, after = run.stamps.empty() ? 0 : run.stamps.back().endFrame;
            for (size_t j = k; j-- > 0;)
                if (heard[j] >= 0) { before = heard[j]; break; }
            for (size_t j = k + 1; j < clicks.size(); ++j)
                if (heard[j] >= 0) { after = heard[j]; break; }
            bool lost = false;
            for (const ClockStep& step : steps) lost = lost || (step.frame > before && step.frame <= after + window);
            std::printf("  click %2zu at %7.3f s: never reached the sink%s\n", k, double(clicks[k].onset) / MUSIC_RATE,
                        lost ? " [sink clock stepped]" : "");
            disturbed += lost;
            all.push_back(300.0);
            offsets.push_back(300.0);
            continue;
        }
        const double soundNs = playedAtNs(run.stamps, run.sinkRate, clock.blockFrames, heard[k], window);
        bool clockStepped = false;
        for (const ClockStep& step : steps) clockStepped = clockStepped || std::llabs(step.frame - heard[k]) <= window;
        char gap[64] = "";
        if (k > 0 && heard[k - 1] >= 0) {
            // The sink must play the clicks as far apart as the track has them: an
            // underrun in between shows here as sound arriving late.
            const double sinkMs = double(heard[k] - heard[k - 1]) * 1000.0 / run.sinkRate;
            const double trackMs = double(clicks[k].onset - clicks[k - 1].onset) * 1000.0 / MUSIC_RATE;
            worstGap = std::max(worstGap, std::fabs(sinkMs - trackMs));
            if (std::fabs(sinkMs - trackMs) > 1.0)
                std::snprintf(gap, sizeof gap, ", %+.1f ms late at the sink", sinkMs - trackMs);
            droppedOut = sinkMs - trackMs > 20.0;
        }
        // From 150 ms before to 300 ms after: clicks are 450 ms or more apart.
        const int i = firstFrameShowing(run.frames, int64_t(soundNs) - 150000000, int64_t(soundNs) + 300000000,
                                        clicks[k].threshold);
        if (i < 0) {
            std::printf("  click %2zu at %7.3f s: no frame showed it within 300 ms%s\n", k,
                        double(clicks[k].onset) / MUSIC_RATE, gap);
            disturbed += droppedOut || clockStepped;
            all.push_back(300.0);
            offsets.push_back(300.0);
            continue;
        }
        const double offset = (double(run.frames[size_t(i)].timeNs) - soundNs) / 1e6;
        const double step = double(run.frames[size_t(i)].timeNs - run.frames[size_t(i) - 1].timeNs) / 1e6;
        const bool stalled = stallMs > 0 && step > stallMs;
        std::printf("  click %2zu at %7.3f s: offset %+6.1f ms (frame step %.1f ms, heard frame %+5lld against the "
                    "onset%s)%s%s%s\n",
                    k, double(clicks[k].onset) / MUSIC_RATE, offset, step,
                    static_cast<long long>(run.frames[size_t(i)].heard - clicks[k].onset), gap,
                    stalled ? " [player stalled]" : "", droppedOut ? " [server dropped out]" : "",
                    clockStepped ? " [sink clock stepped]" : "");
        disturbed += stalled || droppedOut || clockStepped;
        offsets.push_back(offset);
        all.push_back(offset);
    }
    std::vector<double> magnitudes;
    for (double o : offsets) magnitudes.push_back(std::fabs(o));
    const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
    const double worst = *std::max_element(magnitudes.begin(), magnitudes.end());
    const bool met = median(magnitudes) <= goal.medianMs && worst <= goal.worstMs;
    std::printf("%s: median offset %+.1f ms, median |offset| %.1f ms, spread %.1f ms (%+.1f .. %+.1f), worst |offset| "
                "%.1f ms (goal %.0f and %.0f ms: %s); click spacing at the sink within %.2f ms of the track; %zu "
                "clicks disturbed by the load\n",
                run.name.c_str(), median(offsets), median(magnitudes), *high - *low, *low, *high, worst,
                goal.medianMs, goal.worstMs, met ? "met" : "missed", worstGap, disturbed);
    if (met) return RunResult::Met;
    return disturbed > 0 ? RunResult::Disturbed : RunResult::Missed;
}

int analyse(int argc, char** argv) {
    double stallMs = 0.0;
    Goal goal;
    int first = 3;  // the first NAME
    for (;;) {
        if (first + 1 < argc && std::strcmp(argv[first], "--stall-ms") == 0) {
            stallMs = std::atof(argv[first + 1]);
            first += 2;
        } else if (first + 2 < argc && std::strcmp(argv[first], "--goal-ms") == 0) {
            goal.medianMs = std::atof(argv[first + 1]);
            goal.worstMs = std::atof(argv[first + 2]);
            first += 3;
        } else {
            break;
        }
    }
    if (first + 1 >= argc) return fail("no run to analyse");
    if ((argc - first) % 2 != 0) return fail("a run needs a NAME and a DIR");
    std::vector<unsigned char> mp3;
    if (!readFile(argv[2], mp3)) return fail(std::string("cannot read ") + argv[2]);
    MusicTrack track;
    std::string reason;
    if (!decodeMusic(mp3.data(), mp3.size(), track, &reason)) return fail(std::string(argv[2]) + ": " + reason);
    const std::vector<ClickTruth> clicks = clicksOf(track);
    if (clicks.size() != CLICK_COUNT) return fail("the track holds " + std::to_string(clicks.size()) + " clicks");
    // The analysis window is centred on the heard frame, so the level is half way up a
    // little before the onset itself is heard: a lead that is the spectrum's, not the
    // heard position's, and that the offsets include.
    double leadLow = 1e9, leadHigh = -1e9;
    for (const ClickTruth& c : clicks) {
        const double lead = double(c.onset - c.shows) * 1000.0 / MUSIC_RATE;
        leadLow = std::min(leadLow, lead);
        leadHigh = std::max(leadHigh, lead);
    }
    std::printf("track: %d clicks; heard frame by heard frame, the level is half way up %.1f to %.1f ms before each "
                "onset\n",
                CLICK_COUNT, leadLow, leadHigh);
    std::vector<double> all;
    bool failed = false, disturbed = false;
    for (int a = first; a + 1 < argc; a += 2) {
        ServerRun run;
        run.name = argv[a];
        std::string error;
        if (!loadRun(argv[a + 1], run, &error)) {
            std::printf("%s: %s\n", run.name.c_str(), error.c_str());
            failed = true;
            continue;
        }
        const RunResult result = analyseRun(run, clicks, stallMs, goal, all);
        failed = failed || result == RunResult::Missed || result == RunResult::Incomplete;
        disturbed = disturbed || result == RunResult::Disturbed;
    }
    if (all.empty()) return fail("no server was measured");
    std::vector<double> magnitudes;
    for (double o : all) magnitudes.push_back(std::fabs(o));
    std::printf("av-sync: median |offset| %.0f ms, worst %.0f ms\n", median(magnitudes),
                *std::max_element(magnitudes.begin(), magnitudes.end()));
    // 77: missed only where the load disturbed the run; the measurement could not tell.
    return failed ? 1 : disturbed ? 77 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "track" && argc == 3) return writeTrack(argv[2]);
    if (command == "play" && argc == 4) return play(argv[2], argv[3]);
    if (command == "stamp" && argc == 3) return stamp(argv[2]);
    if (command == "analyse" && argc >= 5) return analyse(argc, argv);
    std::fprintf(stderr,
                 "usage: av-sync track OUT.mp3 | play TRACK.mp3 LOG | stamp OUT | analyse TRACK.mp3 [--stall-ms MS] "
                 "[--goal-ms MEDIAN WORST] "
                 "NAME DIR [NAME DIR ...]\n");
    return 2;
}

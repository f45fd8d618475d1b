// Command-line parsing for the capture tool. Every check gives a reason that names the
// option, so that a failed run says what to change.
#include "tools/capture/options.h"

#include <cmath>
#include <cstdlib>

namespace {

bool fail(std::string* error, const std::string& option, const std::string& why) {
    if (error) *error = option + ": " + why;
    return false;
}

bool parseInt(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

bool parseScale(const std::string& text, double& scale) {
    int64_t micro = 0;  // the scale read like seconds: digits with up to 6 decimals
    if (!parseSeconds(text, micro, nullptr) || text.find(':') != std::string::npos) return false;
    scale = static_cast<double>(micro) / 1e6;
    return scale >= 1.0 && scale <= 8.0;
}

}  // namespace

bool parseOptions(int argc, const char* const* argv, int64_t demoEndMs, CaptureOptions& o,
                  std::string* error) {
    bool gaveFrom = false, gaveTo = false, gaveScale = false, gaveRender = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (name.rfind("--", 0) == 0) {
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                hasValue = true;
            }
        }
        if (name == "-h" || name == "--help") {
            o.help = true;
            continue;
        }
        if (name == "--benchmark") {
            if (hasValue) return fail(error, name, "takes no value");
            o.benchmark = true;
            continue;
        }
        static const char* const valued[] = {"--png", "--at", "--video", "--contact-sheet",
                                             "--plot", "--log", "--data", "--fps", "--from",
                                             "--to", "--scale", "--render", "--codec", "--crf",
                                             "--preset", "--sheet-count"};
        bool known = false;
        for (const char* v : valued) known = known || name == v;
        if (!known) {
            if (name.rfind("-", 0) == 0) return fail(error, name, "unknown option (see --help)");
            return fail(error, name, "unexpected argument (see --help)");
        }
        if (!hasValue) {
            if (i + 1 >= argc) return fail(error, name, "needs a value");
            value = argv[++i];
        }
        if (value.empty()) return fail(error, name, "needs a value");
        std::string why;
        if (name == "--png") {
            o.pngDir = value;
        } else if (name == "--video") {
            const size_t dot = value.find_last_of('.'), slash = value.find_last_of('/');
            if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == value.size())
                return fail(error, name + " " + value, "name the container with an extension, such as .mp4");
            o.videoFile = value;
        } else if (name == "--contact-sheet") {
            o.contactSheet = value;
        } else if (name == "--plot") {
            o.plotFile = value;
        } else if (name == "--log") {
            o.logFile = value;
        } else if (name == "--data") {
            o.dataDir = value;
        } else if (name == "--codec") {
            o.codec = value;
        } else if (name == "--preset") {
            o.preset = value;
        } else if (name == "--fps") {
            if (!parseFrameRate(value, o.fps, &why)) return fail(error, name + " " + value, why);
        } else if (name == "--from" || name == "--to") {
            int64_t us = 0;
            if (!parseSeconds(value, us, &why)) return fail(error, name + " " + value, why);
            (name == "--from" ? o.fromUs : o.toUs) = us;
            (name == "--from" ? gaveFrom : gaveTo) = true;
        } else if (name == "--at") {
            size_t start = 0;
            for (;;) {
                const size_t comma = value.find(',', start);
                const std::string item = value.substr(start, comma - start);
                int64_t us = 0;
                if (!parseSeconds(item, us, &why))
                    return fail(error, name + " " + (item.empty() ? value : item), why);
                o.atUs.push_back(us);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (name == "--scale") {
            if (!parseScale(value, o.scale))
                return fail(error, name + " " + value, "expected a factor from 1 to 8, like 2 or 2.25");
            gaveScale = true;
        } else if (name == "--render") {
            if (!parseRenderSize(value, o.render, &why)) return fail(error, name + " " + value, why);
            gaveRender = true;
        } else if (name == "--crf") {
            if (!parseInt(value, 0, 51, o.crf))
                return fail(error, name + " " + value, "expected a whole number from 0 to 51");
        } else if (name == "--sheet-count") {
            if (!parseInt(value, 1, 400, o.sheetCount))
                return fail(error, name + " " + value, "expected a whole number from 1 to 400");
        }
    }
    if (o.help) return true;

    if (!o.atUs.empty() && o.pngDir.empty())
        return fail(error, "--at", "picks frames for --png DIR, which is missing");
    const bool writes = !o.pngDir.empty() || !o.videoFile.empty() || !o.contactSheet.empty();
    if (!writes && !o.benchmark)
        return fail(error, "nothing to do",
                    "give --png DIR, --video FILE, --contact-sheet FILE or --benchmark (see --help)");
    if (o.benchmark && writes)
        return fail(error, "--benchmark", "writes no frames; run it without --png, --video and --contact-sheet");

    // The demo's last frame is the first whose clock passes the last scene's end.
    const int64_t lastFrame = firstFrameAfterMs(demoEndMs, o.fps);
    const std::string lastAt = formatSeconds(frameStartUs(lastFrame, o.fps) / 1e6, 3);
    if (gaveFrom && firstFrameFrom(o.fromUs, o.fps) > lastFrame)
        return fail(error, "--from", "lies after the demo's last frame, at " + lastAt + " s");
    if (gaveTo && o.toUs <= o.fromUs)
        return fail(error, "--to", "must come after --from (the span would be empty)");
    if (gaveTo && firstFrameFrom(o.toUs, o.fps) <= firstFrameFrom(o.fromUs, o.fps))
        return fail(error, "--from/--to", "no frame starts within this span at this rate");
    for (int64_t at : o.atUs)
        if (frameShownAt(at, o.fps) > lastFrame)
            return fail(error, "--at " + formatSeconds(at / 1e6, 3),
                        "lies after the demo's last frame, at " + lastAt + " s");
    // --render alone sets the output size too; with --scale the rendered frames are
    // scaled to it, as 640 x 480 ones are without --render.
    o.renderScale = o.render.native ? o.scale : o.render.scale;
    scaledSize(gaveRender && !gaveScale ? o.renderScale : o.scale, o.outputWidth, o.outputHeight);
    return true;
}

const char* captureUsage() {
    return
        "Usage: velmora-capture [options]\n"
        "Renders the demo offline with a virtual clock: the demo's own start-up, scenes and\n"
        "frame composition, frame by frame at a fixed rate, the same frames on every run.\n"
        "Needs no display (it uses SDL's offscreen driver).\n"
        "\n"
        "What to write (at least one, or --benchmark):\n"
        "  --png DIR             numbered frames, DIR/frame_000000.png (frame 0 = demo start)\n"
        "  --at T1,T2,...        with --png: only the frames on screen at these demo times\n"
        "  --video FILE          a video with the music of the same span; H.264 and AAC in\n"
        "                        MP4, or the container the extension names (.mkv, .mov, .webm)\n"
        "  --contact-sheet FILE  one PNG of captioned thumbnails at regular times\n"
        "  --benchmark           render every frame as fast as possible, write nothing; print\n"
        "                        frame times per scene and plot them (see --plot)\n"
        "\n"
        "Span, rate and size:\n"
        "  --fps RATE            frames per second: 60 (default), 50, 30, 59.94, 60000/1001\n"
        "  --from T, --to T      demo time span in seconds (12.5) or minutes:seconds (1:05);\n"
        "                        frames before --from are rendered but not written\n"
        "  --scale S             output 640x480 times S (1 to 8), 4:3 kept: 2.25 = 1440x1080\n"
        "  --render S            render the frames natively at 640x480 times S (1 to 8) instead\n"
        "                        of scaling them: sharp edges, lines and captions; native: at\n"
        "                        the --scale size. Sets the output size unless --scale does\n"
        "\n"
        "Video encoding (ffmpeg must be installed):\n"
        "  --codec NAME          ffmpeg video encoder (default libx264 for .mp4 .m4v .mov .mkv)\n"
        "  --crf N               quality for libx264/libx265, 0 (best) to 51 (default 18)\n"
        "  --preset NAME         libx264/libx265 speed preset (default veryfast)\n"
        "\n"
        "Other:\n"
        "  --sheet-count N       thumbnails on the contact sheet (default 48)\n"
        "  --plot FILE           where --benchmark draws its plot (default benchmark.png)\n"
        "  --log FILE            one line per rendered frame: frame, clock ms, scene, music level\n"
        "  --data DIR            folder with music.mp3 and textures/ (default: the current\n"
        "                        folder if it has either, else the installed data)\n"
        "  -h, --help            this text\n"
        "\n"
        "Ctrl-C (or SIGTERM, SIGHUP) stops early and still finishes the video file. Every file\n"
        "appears under its name only once complete. Exit status: 0 done, 1 failed (nothing\n"
        "half-written is left), 2 bad command line, 130 stopped (what was captured is written).\n";
}

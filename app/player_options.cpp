// The player's command-line parsing. Every refusal names the option and the value, so that
// a failed start says what to change.
#include "app/player_options.h"

#include <cstdlib>

// The project's version; set by the build.
#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace {

const char* const seeHelp = " (see velmora --help)";

bool fail(std::string* error, const std::string& what, const std::string& why) {
    if (error) *error = what + ": " + why + seeHelp;
    return false;
}

// Digits only, low..high.
bool parseWhole(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

// "WIDTHxHEIGHT", each side 64..16384 pixels.
bool parseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    return parseWhole(text.substr(0, x), 64, 16384, width) && parseWhole(text.substr(x + 1), 64, 16384, height);
}

// Whether an argument is shaped like a size at all (digits, 'x', digits), so that
// "--window 800x600" takes it while "--window --loop" does not.
bool looksLikeSize(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != x && (text[i] < '0' || text[i] > '9')) return false;
    return true;
}


}  // namespace

bool parsePlayerOptions(int argc, const char* const* argv, PlayerOptions& o, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string name = arg, value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        const bool flag = name == "-h" || name == "--help" || name == "--version" || name == "--fullscreen" ||
                          name == "--vsync" || name == "--no-vsync" || name == "--loop";
        if (flag && hasValue) return fail(error, arg, "takes no value");
        if (name == "-h" || name == "--help") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--fullscreen") {
            o.windowed = false;
        } else if (name == "--vsync") {
            o.vsync = VsyncChoice::On;
        } else if (name == "--no-vsync") {
            o.vsync = VsyncChoice::Off;
        } else if (name == "--loop") {
            o.loop = true;
        } else if (name == "--window") {
            o.windowed = true;
            o.windowWidth = o.windowHeight = 0;
            if (!hasValue && i + 1 < argc && looksLikeSize(argv[i + 1])) {
                value = argv[++i];
                hasValue = true;
            }
            if (hasValue && !parseSize(value, o.windowWidth, o.windowHeight))
                return fail(error, value.empty() ? "--window=" : "--window " + value, "expected WIDTHxHEIGHT like 1280x960, each side 64 to 16384");
        } else if (name == "--render" || name == "--data") {
            if (!hasValue) {
                if (i + 1 >= argc) return fail(error, name, "needs a value");
                value = argv[++i];
            }
            if (value.empty()) return fail(error, name, "needs a value");
            std::string why;
            if (name == "--data")
                o.dataDir = value;
            else if (!parseRenderSize(value, o.render, &why))
                return fail(error, "--render " + value, why);
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            return fail(error, name, "unknown option");
        } else {
            return fail(error, arg.empty() ? "\"\"" : arg, "unexpected argument");
        }
    }
    return true;
}

const char* playerUsage() {
    return
        "Usage: velmora [options]\n"
        "Plays the demo: seven 3D scenes set to one piece of music, 144 seconds, full screen.\n"
        "With no options it plays once, full screen, and ends by itself.\n"
        "\n"
        "Options:\n"
        "  --fullscreen          full screen on the desktop's own mode (the default)\n"
        "  --window[=WxH]        a resizable window, WIDTHxHEIGHT pixels (default 1280x960,\n"
        "                        or the largest 4:3 size that fits the screen)\n"
        "  --vsync               wait for every screen refresh (never tears)\n"
        "  --no-vsync            never wait for the screen (the default is adaptive vsync\n"
        "                        where the driver offers it, else every refresh)\n"
        "  --loop                start again from the first scene after the last, until Escape\n"
        "  --render SIZE         draw the scenes at SIZE: 640x480 (the default, scaled to\n"
        "                        the screen), native (the largest 4:3 size the window\n"
        "                        holds) or a factor S from 1 to 8 (2.25: 1440x1080)\n"
        "  --data DIR            folder with music.mp3 and textures/ (default: the current\n"
        "                        folder if it has either, else the installed data)\n"
        "  --version             print the version and stop\n"
        "  -h, --help            this text\n"
        "\n"
        "Keys: Escape ends the demo (as does closing the window); F11 or Alt+Enter switches\n"
        "between full screen and a window; Space pauses and resumes.\n"
        "The picture keeps its 4:3 shape, with black bars beside or above it.\n"
        "Exit status: 0 ended (by itself, Escape or a close request), 1 no display or no\n"
        "OpenGL, 2 bad command line.\n";
}

const char* playerVersion() { return "velmora " VELMORA_VERSION; }

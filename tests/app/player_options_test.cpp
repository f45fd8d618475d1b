// The player's command line, as a table: what each line asks for, and what each bad line
// is refused with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/player_options.h"

namespace {

bool parse(std::vector<const char*> args, PlayerOptions& o, std::string* error) {
    args.insert(args.begin(), "velmora");
    return parsePlayerOptions(static_cast<int>(args.size()), args.data(), o, error);
}

struct Accepted {
    std::vector<const char*> args;
    bool windowed;
    int width, height;
    VsyncChoice vsync;
    bool loop;
    double render;  // the factor; 0: native
    const char* data;
};

struct Refused {
    std::vector<const char*> args;
    std::string line;  // the whole error line, without the program's name
};

}  // namespace

TEST(PlayerOptions, AcceptedLines) {
    const VsyncChoice D = VsyncChoice::Default, On = VsyncChoice::On, Off = VsyncChoice::Off;
    const Accepted table[] = {
        {{}, false, 0, 0, D, false, 1, ""},
        {{"--window"}, true, 0, 0, D, false, 1, ""},
        {{"--window=800x600"}, true, 800, 600, D, false, 1, ""},
        {{"--window", "1600x900"}, true, 1600, 900, D, false, 1, ""},
        {{"--window=64x16384"}, true, 64, 16384, D, false, 1, ""},
        // The later of two contradicting options wins; a bare --window forgets a size.
        {{"--window=800x600", "--fullscreen"}, false, 800, 600, D, false, 1, ""},
        {{"--fullscreen", "--window"}, true, 0, 0, D, false, 1, ""},
        {{"--window=800x600", "--window"}, true, 0, 0, D, false, 1, ""},
        {{"--vsync"}, false, 0, 0, On, false, 1, ""},
        {{"--vsync", "--no-vsync"}, false, 0, 0, Off, false, 1, ""},
        {{"--no-vsync", "--vsync"}, false, 0, 0, On, false, 1, ""},
        {{"--loop", "--window", "--loop"}, true, 0, 0, D, true, 1, ""},
        {{"--render", "native"}, false, 0, 0, D, false, 0, ""},
        {{"--render=640x480"}, false, 0, 0, D, false, 1, ""},
        {{"--render", "1"}, false, 0, 0, D, false, 1, ""},
        {{"--render=8"}, false, 0, 0, D, false, 8, ""},
        {{"--render=2.25"}, false, 0, 0, D, false, 2.25, ""},
        {{"--render", "1440x1080"}, false, 0, 0, D, false, 2.25, ""},
        {{"--render", "native", "--render", "3"}, false, 0, 0, D, false, 3, ""},
        {{"--data", "/srv/my demo"}, false, 0, 0, D, false, 1, "/srv/my demo"},
        {{"--data=x=y", "--window", "--data", "--loop"}, true, 0, 0, D, false, 1, "--loop"},
    };
    for (const Accepted& row : table) {
        PlayerOptions o;
        std::string error;
        std::string line;
        for (const char* a : row.args) line += std::string(" ") + a;
        ASSERT_TRUE(parse(row.args, o, &error)) << line << ": " << error;
        EXPECT_EQ(o.windowed, row.windowed) << line;
        EXPECT_EQ(o.windowWidth, row.width) << line;
        EXPECT_EQ(o.windowHeight, row.height) << line;
        EXPECT_EQ(o.vsync, row.vsync) << line;
        EXPECT_EQ(o.loop, row.loop) << line;
        EXPECT_EQ(o.render.native, row.render == 0) << line;
        if (row.render != 0) EXPECT_EQ(o.render.scale, row.render) << line;
        EXPECT_EQ(o.dataDir, row.data) << line;
        EXPECT_FALSE(o.help || o.version) << line;
    }
}

TEST(PlayerOptions, HelpAndVersionStopBeforeAnythingElse) {
    PlayerOptions o;
    ASSERT_TRUE(parse({"--window", "-h"}, o, nullptr));
    EXPECT_TRUE(o.help);
    PlayerOptions v;
    ASSERT_TRUE(parse({"--version"}, v, nullptr));
    EXPECT_TRUE(v.version && !v.help);
    EXPECT_EQ(std::string(playerVersion()).rfind("velmora ", 0), 0u);
    // Every option the parser takes is in the help text.
    const std::string usage = playerUsage();
    for (const char* name : {"--fullscreen", "--window[=WxH]", "--vsync", "--no-vsync", "--loop", "--render",
                             "--data", "--version", "--help", "F11", "Alt+Enter", "Escape", "Space"})
        EXPECT_NE(usage.find(name), std::string::npos) << name;
}

TEST(PlayerOptions, RefusedLinesNameTheOptionAndPointAtHelp) {
    const char* const window = "expected WIDTHxHEIGHT like 1280x960, each side 64 to 16384 (see velmora --help)";
    const char* const render =
        "expected native, a factor from 1 to 8 (like 2 or 2.25) or a size like 640x480 (see velmora --help)";
    const char* const pixels =
        "expected a 4:3 size from 640x480 to 5120x3840 with the width a multiple of 8 (see velmora --help)";
    const Refused table[] = {
        {{"--bogus"}, "--bogus: unknown option (see velmora --help)"},
        {{"--bogus=1"}, "--bogus: unknown option (see velmora --help)"},
        {{"-w"}, "-w: unknown option (see velmora --help)"},
        {{"--windowed"}, "--windowed: unknown option (see velmora --help)"},
        {{"demo.mp3"}, "demo.mp3: unexpected argument (see velmora --help)"},
        {{"-"}, "-: unexpected argument (see velmora --help)"},
        {{""}, "\"\": unexpected argument (see velmora --help)"},
        {{"--loop=2"}, "--loop=2: takes no value (see velmora --help)"},
        {{"--fullscreen="}, "--fullscreen=: takes no value (see velmora --help)"},
        {{"--help=all"}, "--help=all: takes no value (see velmora --help)"},
        // A size must be whole pixels, both sides given, within the limits.
        {{"--window=big"}, std::string("--window big: ") + window},
        {{"--window="}, std::string("--window=: ") + window},
        {{"--window=800x"}, std::string("--window 800x: ") + window},
        {{"--window=x600"}, std::string("--window x600: ") + window},
        {{"--window=63x600"}, std::string("--window 63x600: ") + window},
        {{"--window=800x16385"}, std::string("--window 800x16385: ") + window},
        {{"--window=-800x600"}, std::string("--window -800x600: ") + window},
        {{"--window=800X600"}, std::string("--window 800X600: ") + window},
        {{"--window=800x600x2"}, std::string("--window 800x600x2: ") + window},
        // "--window 800" leaves "800" as an argument of its own.
        {{"--window", "800"}, "800: unexpected argument (see velmora --help)"},
        {{"--render"}, "--render: needs a value (see velmora --help)"},
        {{"--render="}, "--render: needs a value (see velmora --help)"},
        {{"--render", "0"}, std::string("--render 0: ") + render},
        {{"--render", "9"}, std::string("--render 9: ") + render},
        {{"--render=2.5.1"}, std::string("--render 2.5.1: ") + render},
        {{"--render=NATIVE"}, std::string("--render NATIVE: ") + render},
        {{"--render=1280x961"}, std::string("--render 1280x961: ") + pixels},
        {{"--data"}, "--data: needs a value (see velmora --help)"},
        {{"--data="}, "--data: needs a value (see velmora --help)"},
        // The first fault is the one named, even after --help.
        {{"--help", "--bogus", "--worse"}, "--bogus: unknown option (see velmora --help)"},
    };
    for (const Refused& row : table) {
        PlayerOptions o;
        std::string error;
        std::string line;
        for (const char* a : row.args) line += std::string(" ") + a;
        EXPECT_FALSE(parse(row.args, o, &error)) << line;
        EXPECT_EQ(error, row.line) << line;
    }
}

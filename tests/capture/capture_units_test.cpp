// The capture's plain code: the virtual clock's arithmetic, the command line, and the
// benchmark's statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/render_size.h"
#include "app/timeline.h"
#include "tools/capture/benchmark.h"
#include "tools/capture/frame_clock.h"
#include "tools/capture/options.h"

namespace {

FrameRate rate(int64_t num, int64_t den) {
    FrameRate r;
    r.num = num;
    r.den = den;
    return r;
}

const int64_t DEMO_END_MS = 144000;

bool parse(std::vector<const char*> args, CaptureOptions& o, std::string* error) {
    args.insert(args.begin(), "velmora-capture");
    return parseOptions(static_cast<int>(args.size()), args.data(), DEMO_END_MS, o, error);
}

}  // namespace

TEST(FrameClock, ReadsWholeMillisecondsRoundedDown) {
    EXPECT_EQ(frameClockMs(1, rate(60, 1)), 16);
    EXPECT_EQ(frameClockMs(3, rate(60, 1)), 50);
    EXPECT_EQ(frameClockMs(8641, rate(60, 1)), 144016);
    // 59.94 fps: 16.683 ms a frame; after 60 frames the clock has gained a whole millisecond.
    EXPECT_EQ(frameClockMs(1, rate(60000, 1001)), 16);
    EXPECT_EQ(frameClockMs(60, rate(60000, 1001)), 1001);
    EXPECT_EQ(frameClockMs(8631, rate(60000, 1001)), 143993);  // 143993.85
    EXPECT_EQ(frameClockMs(0, rate(30, 1)), 0);
}

TEST(FrameClock, SoundPositionsAreExactAtEveryRate) {
    EXPECT_EQ(frameAudioStart(1, rate(60, 1), 44100), 735);
    EXPECT_EQ(frameAudioStart(8642, rate(60, 1), 44100), 8642 * 735);
    EXPECT_EQ(frameAudioStart(1, rate(60000, 1001), 44100), 735);   // 735.735 rounded down
    EXPECT_EQ(frameAudioStart(4, rate(60000, 1001), 44100), 2942);  // 2942.94
    EXPECT_EQ(frameAudioStart(60000, rate(60000, 1001), 44100), 44144100);  // 1001 s
}

TEST(FrameClock, HandOverFrameIsTheFirstPastEachSceneEnd) {
    for (FrameRate r : {rate(60, 1), rate(50, 1), rate(30, 1), rate(60000, 1001), rate(2997, 100), rate(1, 1)}) {
        for (const SceneTiming& t : sceneTimeline) {
            const int64_t end = static_cast<int64_t>(t.endMs);
            const int64_t f = firstFrameAfterMs(end, r);
            EXPECT_GT(frameClockMs(f, r), end) << r.num << "/" << r.den << " end " << end;
            EXPECT_LE(frameClockMs(f - 1, r), end) << r.num << "/" << r.den << " end " << end;
        }
    }
    EXPECT_EQ(firstFrameAfterMs(12500, rate(60, 1)), 751);
    EXPECT_EQ(firstFrameAfterMs(144000, rate(60, 1)), 8641);
}

TEST(FrameClock, TimesMapToTheFrameOnScreenAndTheFirstFrameFrom) {
    const FrameRate ntsc = rate(60000, 1001);
    EXPECT_EQ(frameShownAt(1001000, ntsc), 60);  // frame 60 starts at exactly 1.001 s
    EXPECT_EQ(firstFrameFrom(1001000, ntsc), 60);
    EXPECT_EQ(frameShownAt(1000000, ntsc), 59);
    EXPECT_EQ(firstFrameFrom(1000000, ntsc), 60);
    EXPECT_EQ(frameShownAt(12550000, rate(20, 1)), 251);
    EXPECT_EQ(frameStartUs(251, rate(20, 1)), 12550000);
}

TEST(FrameClock, ParsesRatesAndTimes) {
    FrameRate r;
    std::string why;
    ASSERT_TRUE(parseFrameRate("60000/1001", r, &why));
    EXPECT_EQ(r.num, 60000);
    EXPECT_EQ(r.den, 1001);
    ASSERT_TRUE(parseFrameRate("59.94", r, &why));
    EXPECT_EQ(r.num, 2997);
    EXPECT_EQ(r.den, 50);
    ASSERT_TRUE(parseFrameRate("120/2", r, &why));
    EXPECT_EQ(r.num, 60);
    EXPECT_EQ(r.den, 1);
    for (const char* bad : {"0", "0.5", "1001", "60/0", "abc", "-60", "60fps", "", "1/2/3", "."}) {
        EXPECT_FALSE(parseFrameRate(bad, r, &why)) << bad;
        EXPECT_FALSE(why.empty());
    }

    int64_t us = 0;
    ASSERT_TRUE(parseSeconds("1:05.25", us, &why));
    EXPECT_EQ(us, 65250000);
    ASSERT_TRUE(parseSeconds("12.000001", us, &why));
    EXPECT_EQ(us, 12000001);
    for (const char* bad : {"1:60", "1.0000001", "", "-1", "1e3", "1:", ":5", "12s"})
        EXPECT_FALSE(parseSeconds(bad, us, &why)) << bad;

    // Range before arithmetic: a day at most, however it is written; nothing past it
    // may wrap around into a small or negative time.
    ASSERT_TRUE(parseSeconds("86400", us, &why));
    EXPECT_EQ(us, 86400000000LL);
    ASSERT_TRUE(parseSeconds("1439:59.999999", us, &why));
    EXPECT_EQ(us, 86399999999LL);
    for (const char* huge : {"86400.000001", "1440:00.5", "99999999999999", "9223372036854775807",
                             "9223372036854775808", "18446744073709.551616", "153722867280912:00",
                             "1:9223372036854"}) {
        why.clear();
        EXPECT_FALSE(parseSeconds(huge, us, &why)) << huge;
        EXPECT_FALSE(why.empty()) << huge;
    }

    EXPECT_EQ(formatSeconds(59.96, 1), "1:00.0");
    EXPECT_EQ(formatSeconds(144.0167, 3), "2:24.017");
}

TEST(CaptureOptions, ReadsEveryOptionInBothForms) {
    CaptureOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--png", "out", "--at=12.5,1:05", "--at", "3", "--fps=60000/1001", "--scale", "2.25",
                       "--from", "10", "--to=20", "--crf", "23", "--data", "d"},
                      o, &error))
        << error;
    EXPECT_EQ(o.pngDir, "out");
    EXPECT_EQ(o.atUs, (std::vector<int64_t>{12500000, 65000000, 3000000}));
    EXPECT_EQ(o.fps.num, 60000);
    EXPECT_EQ(o.fromUs, 10000000);
    EXPECT_EQ(o.toUs, 20000000);
    EXPECT_EQ(o.outputWidth, 1440);
    EXPECT_EQ(o.outputHeight, 1080);
    EXPECT_EQ(o.crf, 23);
    EXPECT_EQ(o.dataDir, "d");
}

TEST(CaptureOptions, ScaledSizesStayFourByThreeAndEven) {
    int w = 0, h = 0;
    for (double s : {1.0, 1.3, 1.5, 2.0, 2.25, 3.1, 8.0}) {
        scaledSize(s, w, h);
        EXPECT_EQ(w * 3, h * 4) << s;
        EXPECT_EQ(h % 2, 0) << s;
        EXPECT_NEAR(w, 640 * s, 8) << s;
    }
    scaledSize(1.0, w, h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
}

TEST(RenderSize, FactorsSizesAndNativeReadAndPickTheSizes) {
    // The value as given -> the scale, and for the capture tool the output size.
    struct Case {
        std::vector<const char*> args;
        double renderScale;
        int outputWidth;
    };
    const Case cases[] = {
        {{}, 1.0, 640},
        {{"--render", "2"}, 2.0, 1280},               // --render alone sets the output size
        {{"--render=2.25"}, 2.25, 1440},
        {{"--render", "1440x1080"}, 2.25, 1440},      // a size a factor makes
        {{"--render", "640x480"}, 1.0, 640},
        {{"--render", "native"}, 1.0, 640},           // native: the --scale size
        {{"--render", "native", "--scale", "3"}, 3.0, 1920},
        {{"--scale", "1.5", "--render", "3"}, 3.0, 960},  // rendered at 3, scaled to 1.5
        {{"--scale", "2"}, 1.0, 1280},                // --scale alone still scales
    };
    for (const Case& c : cases) {
        std::vector<const char*> args = {"--png", "x"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CaptureOptions o;
        std::string error;
        ASSERT_TRUE(parse(args, o, &error)) << error;
        EXPECT_DOUBLE_EQ(o.renderScale, c.renderScale) << (c.args.empty() ? "" : c.args.back());
        EXPECT_EQ(o.outputWidth, c.outputWidth) << (c.args.empty() ? "" : c.args.back());
        EXPECT_EQ(o.outputWidth * 3, o.outputHeight * 4);
    }
    RenderSize size;
    std::string why;
    for (const char* bad : {"0.99", "8.000001", "9", "2.", ".5", "-2", "2x", "x480", "1000x700", "1001x750",
                            "644x483", "5128x3846", "Native", "2e0", "", "1.0000001"}) {
        EXPECT_FALSE(parseRenderSize(bad, size, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_TRUE(parseRenderSize("8", size, &why));
    EXPECT_TRUE(parseRenderSize("5120x3840", size, &why));
    EXPECT_DOUBLE_EQ(size.scale, 8.0);

    // native: the largest 4:3 size within the drawable, never below 640 x 480.
    const int drawables[][4] = {{1920, 1080, 1440, 1080}, {1280, 1024, 1280, 960}, {1366, 768, 1024, 768},
                                {1000, 700, 932, 699},    {3840, 2160, 2880, 2160}, {640, 480, 640, 480},
                                {320, 200, 640, 480}};
    for (const auto& d : drawables) {
        int w = 0, h = 0;
        nativeSize(d[0], d[1], w, h);
        EXPECT_EQ(w, d[2]) << d[0] << "x" << d[1];
        EXPECT_EQ(h, d[3]) << d[0] << "x" << d[1];
    }
}

// The frame's place in a window and the bars around it: together they cover every pixel
// of the window exactly once, the frame keeps its shape to within a pixel, and the bar
// before it (bottom in GL, top in X) gets the smaller half of an odd split.
TEST(FramePlacement, FrameAndBarsTileTheWindowOnce) {
    const int frames[][2] = {{640, 480}, {1440, 1080}};
    const int windows[][2] = {{1920, 1080}, {1280, 1024}, {640, 480}, {1000, 900}, {700, 1000},
                              {1, 1},       {2, 3},       {641, 481}, {3, 1000}, {5000, 7}};
    for (const auto& f : frames) {
        for (const auto& w : windows) {
            const PixelRect frame = fitFrame(f[0], f[1], w[0], w[1]);
            PixelRect bars[4];
            const int count = barsAround(frame, w[0], w[1], bars);
            std::vector<int> cover(static_cast<size_t>(w[0]) * w[1], 0);
            auto paint = [&](const PixelRect& r) {
                for (int y = r.y; y < r.y + r.height; ++y)
                    for (int x = r.x; x < r.x + r.width; ++x) {
                        ASSERT_TRUE(x >= 0 && y >= 0 && x < w[0] && y < w[1]);
                        ++cover[static_cast<size_t>(y) * w[0] + x];
                    }
            };
            paint(frame);
            for (int i = 0; i < count; ++i) {
                EXPECT_GT(bars[i].width, 0);
                EXPECT_GT(bars[i].height, 0);
                paint(bars[i]);
            }
            const auto where = ::testing::Message() << f[0] << "x" << f[1] << " in " << w[0] << "x" << w[1];
            EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), static_cast<long>(cover.size())) << where;
            // Fills one side: the whole width or the whole height.
            EXPECT_TRUE(frame.width == w[0] || frame.height == w[1]) << where;
            EXPECT_LE(std::abs(frame.width * f[1] - frame.height * f[0]), f[0]) << where;
            EXPECT_LE(frame.x, w[0] - frame.x - frame.width) << where;
            EXPECT_LE(frame.y, w[1] - frame.y - frame.height) << where;
        }
    }
    // A 1920 x 1080 screen: 1440 x 1080 with two bars of 240 beside it.
    const PixelRect screen = fitFrame(640, 480, 1920, 1080);
    PixelRect bars[4];
    EXPECT_EQ(barsAround(screen, 1920, 1080, bars), 2);
    EXPECT_EQ(screen.x, 240);
    EXPECT_EQ(screen.width, 1440);
    EXPECT_EQ(bars[1].x, 1680);
}

TEST(CaptureOptions, BadCommandLinesNameTheOption) {
    struct Case {
        std::vector<const char*> args;
        const char* mentions;
    };
    const Case cases[] = {
        {{}, "nothing to do"},
        {{"--png"}, "--png: needs a value"},
        {{"--png", "x", "--bogus"}, "--bogus: unknown option"},
        {{"--png", "x", "stray"}, "stray: unexpected argument"},
        {{"--png", "x", "--fps", "0"}, "--fps 0"},
        {{"--png", "x", "--fps", "2000"}, "between 1 and 1000"},
        {{"--at", "3"}, "--at"},
        {{"--png", "x", "--at", "3,,4"}, "--at"},
        {{"--png", "x", "--at", "145"}, "after the demo's last frame"},
        {{"--png", "x", "--from", "150"}, "--from"},
        {{"--png", "x", "--from", "20", "--to", "10"}, "--to"},
        {{"--png", "x", "--from", "1.001", "--to", "1.002"}, "no frame starts"},
        {{"--png", "x", "--scale", "0.5"}, "--scale 0.5"},
        {{"--png", "x", "--scale", "9"}, "--scale 9"},
        {{"--png", "x", "--render", "0.5"}, "--render 0.5"},
        {{"--png", "x", "--render"}, "--render: needs a value"},
        {{"--video", "v.mp4", "--crf", "52"}, "--crf 52"},
        {{"--video", "out/video"}, "extension"},
        {{"--video", "v.mp4", "--benchmark"}, "--benchmark"},
        {{"--benchmark=yes"}, "--benchmark: takes no value"},
        {{"--contact-sheet", "s.png", "--sheet-count", "0"}, "--sheet-count 0"},
        {{"--png", "x", "--from", "99999999999999"}, "--from 99999999999999: times go up to 86400 s"},
        {{"--png", "x", "--to", "153722867280912:00"}, "--to 153722867280912:00"},
        {{"--png", "x", "--at", "1,9223372036854.775807"}, "--at 9223372036854.775807"},
        {{"--png", "x", "--scale", "99999999999999"}, "--scale 99999999999999"},
        {{"--png", "x", "--fps", "99999999999999999999/1"}, "--fps"},
    };
    for (const Case& c : cases) {
        CaptureOptions o;
        std::string error;
        EXPECT_FALSE(parse(c.args, o, &error)) << c.mentions;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << "got: " << error;
    }
    // The demo's last frame at 60 fps starts at 144.0167 s, so 144.02 is still on screen.
    CaptureOptions o;
    std::string error;
    EXPECT_TRUE(parse({"--png", "x", "--at", "144.02"}, o, &error)) << error;
    EXPECT_FALSE(parse({"--png", "x", "--at", "144.04"}, o, &error));
}

TEST(FrameTimeStats, MedianPercentileWorstAndRate) {
    const FrameTimeStats odd = summarizeFrameTimes({5, 1, 3, 2, 4});
    EXPECT_EQ(odd.frames, 5);
    EXPECT_DOUBLE_EQ(odd.medianMs, 3);
    EXPECT_DOUBLE_EQ(odd.worstMs, 5);
    EXPECT_DOUBLE_EQ(odd.framesPerSecond(), 5 * 1000.0 / 15);
    EXPECT_DOUBLE_EQ(summarizeFrameTimes({4, 1, 3, 2}).medianMs, 2.5);

    std::vector<float> many;
    for (int i = 200; i >= 1; --i) many.push_back(static_cast<float>(i));
    const FrameTimeStats s = summarizeFrameTimes(many);
    EXPECT_DOUBLE_EQ(s.p99Ms, 198);  // 198 of 200 frames took at most 198 ms
    EXPECT_DOUBLE_EQ(s.worstMs, 200);
    EXPECT_EQ(summarizeFrameTimes({}).frames, 0);
    EXPECT_DOUBLE_EQ(summarizeFrameTimes({}).framesPerSecond(), 0);
}

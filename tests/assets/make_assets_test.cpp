// Building blocks of make-assets: the painter's anti-aliased coverage, the filter
// and delay of the synthesiser, and the MP3 writer's gapless round trip.
#include "tools/make_assets/encode.h"
#include "tools/make_assets/paint.h"
#include "tools/make_assets/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numeric>

#include <mpg123.h>

using namespace assets;

namespace {

double total(const Coverage& c) { return std::accumulate(c.values.begin(), c.values.end(), 0.0); }

TEST(Paint, PolygonCoverageAddsUpToTheAreaIncludingPartialEdgePixels)
{
    // A square from 10.3 to 40.7 pixels on each side of a 64 x 64 picture.
    float a = 10.3f / 64, b = 40.7f / 64;
    Coverage square = polygonCoverage(64, 64, {{a, a}, {b, a}, {b, b}, {a, b}});
    EXPECT_NEAR(total(square), 30.4 * 30.4, 30.4 * 0.15);  // vertical edges exact, rows in quarters
    EXPECT_FLOAT_EQ(square.at(20, 20), 1.0f);
    EXPECT_FLOAT_EQ(square.at(5, 20), 0.0f);
    EXPECT_NEAR(square.at(10, 20), 0.7f, 1e-4);  // 10.3 .. 11 covered
    // Even-odd: a second, inner square in the same outline cuts a hole.
    float c = 20.0f / 64, d = 30.0f / 64;
    Coverage ring = polygonCoverage(64, 64, {{a, a}, {b, a}, {b, b}, {a, b}, {a, a},
                                             {c, c}, {d, c}, {d, d}, {c, d}, {c, c}});
    EXPECT_FLOAT_EQ(ring.at(25, 25), 0.0f);
    EXPECT_NEAR(total(ring), 30.4 * 30.4 - 100.0, 30.4 * 0.15);
}

TEST(Paint, EllipseCoverageHasTheEllipsesArea)
{
    Coverage disc = ellipseCoverage(128, 128, {0.5f, 0.5f}, 0.25f, 0.125f);
    EXPECT_NEAR(total(disc), M_PI * 32.0 * 16.0, M_PI * 32.0 * 16.0 * 0.01);
}

TEST(Paint, TileNoiseWrapsAroundItsPeriod)
{
    for (float v : {0.0f, 0.37f, 0.9f}) {
        EXPECT_NEAR(tileNoise(0.0f, v, 8, 5), tileNoise(1.0f, v, 8, 5), 1e-5);
        EXPECT_NEAR(tileNoise(v, 0.0f, 8, 5), tileNoise(v, 1.0f, 8, 5), 1e-5);
    }
}

TEST(Synth, LowPassPassesBassAndStopsTreble)
{
    auto gainAt = [](double hz) {
        Svf filter;
        filter.setup(500.0, 0.707);
        Sine sine;
        double peak = 0.0;
        for (int i = 0; i < SAMPLE_RATE; ++i) {
            float out = filter.run(sine.next(hz)).low;
            if (i > SAMPLE_RATE / 2)
                peak = std::max(peak, (double)std::fabs(out));
        }
        return peak;
    };
    EXPECT_NEAR(gainAt(50.0), 1.0, 0.02);
    EXPECT_NEAR(gainAt(500.0), 0.707, 0.03);  // -3 dB at the cutoff
    EXPECT_LT(gainAt(5000.0), 0.012);         // 12 dB an octave: about -40 dB a decade
}

TEST(Synth, PingPongDelayAlternatesSidesAndDecays)
{
    Stereo in(1000), out(1000);
    in.left[0] = 1.0f;
    pingPongDelay(in, out, 100, 0.5f, 0.0f);
    EXPECT_FLOAT_EQ(out.left[100], 1.0f);
    EXPECT_FLOAT_EQ(out.right[100], 0.0f);
    EXPECT_FLOAT_EQ(out.right[200], 0.5f);
    EXPECT_FLOAT_EQ(out.left[200], 0.0f);
    EXPECT_FLOAT_EQ(out.left[300], 0.25f);
}

TEST(Encode, Mp3DecodesToTheSameLengthAndStartsWithoutDelay)
{
    // One second of a 441 Hz tone that starts at full swing on frame 0.
    const int frames = SAMPLE_RATE;
    std::vector<int16_t> pcm(frames * 2);
    for (int i = 0; i < frames; ++i)
        pcm[i * 2] = pcm[i * 2 + 1] = (int16_t)(20000.0 * std::cos(2.0 * M_PI * 441.0 * i / SAMPLE_RATE));
    std::filesystem::path path = std::filesystem::temp_directory_path() / "make_assets_test.mp3";
    std::string error;
    ASSERT_TRUE(writeMp3(path.string(), pcm, 192, error)) << error;

    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    ASSERT_EQ(mpg123_open(h, path.c_str()), MPG123_OK);
    std::vector<int16_t> decoded;
    std::vector<unsigned char> buffer(16384);
    size_t done = 0;
    int r;
    while ((r = mpg123_read(h, buffer.data(), buffer.size(), &done)) == MPG123_OK || r == MPG123_NEW_FORMAT)
        decoded.insert(decoded.end(), (int16_t*)buffer.data(), (int16_t*)buffer.data() + done / 2);
    decoded.insert(decoded.end(), (int16_t*)buffer.data(), (int16_t*)buffer.data() + done / 2);
    mpg123_close(h);
    mpg123_delete(h);
    std::filesystem::remove(path);

    ASSERT_EQ(decoded.size(), pcm.size());
    // Aligned to the frame: the best match of the first 10 ms lies at lag 0, and
    // the copy is close to the original.
    auto match = [&](int lag) {
        double sum = 0.0;
        for (int i = 200; i < 641; ++i)
            sum += (double)pcm[i * 2] * decoded[(i + lag) * 2];
        return sum;
    };
    for (int lag : {-50, -10, -1, 1, 10, 50})
        EXPECT_GT(match(0), match(lag)) << "lag " << lag;
    EXPECT_GT(std::abs(decoded[0]), 12000);
}

} // namespace

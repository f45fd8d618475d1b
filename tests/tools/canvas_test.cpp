// The tools' canvas: drawing lands where asked, clipped, and PNG output round-trips.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>

#include "tools/common/canvas.h"
#include "tools/common/png_file.h"

namespace {

const uint8_t* at(const Canvas& c, int x, int y) { return &c.rgba[(size_t(y) * c.width + x) * 4]; }

TEST(Canvas, RectanglesAndLinesAreClippedToThePicture) {
    Canvas c(20, 10, {255, 255, 255});
    c.fillRect(-5, -5, 10, 10, {255, 0, 0});  // overhangs the top-left corner
    EXPECT_EQ(at(c, 0, 0)[0], 255);
    EXPECT_EQ(at(c, 0, 0)[1], 0);
    EXPECT_EQ(at(c, 4, 4)[1], 0);
    EXPECT_EQ(at(c, 5, 5)[1], 255);
    c.line(0, 9, 19, 9, {0, 0, 255});
    for (int x = 0; x < 20; ++x) EXPECT_EQ(at(c, x, 9)[2], 255) << x;
    EXPECT_EQ(at(c, 10, 9)[0], 0);
    c.line(-100, -100, 100, 100, {0, 0, 0});  // must not write outside
    EXPECT_EQ(at(c, 7, 7)[0], 0);
}

TEST(Canvas, TextInksBelowItsBaselineOnlyForDescenders) {
    Canvas c(200, 60, {255, 255, 255});
    const int advance = c.text(10, 40, "Hg", 30, {0, 0, 0});
    ASSERT_GT(advance, 20) << "no sans-serif font found";
    int inkAbove = 0, inkBelow = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
            if (at(c, x, y)[0] < 128) (y < 40 ? inkAbove : inkBelow)++;
    EXPECT_GT(inkAbove, 50);
    EXPECT_GT(inkBelow, 5);  // the g's tail
}

TEST(Canvas, PngRoundTripsPixelsWithoutAlpha) {
    Canvas c(7, 3, {10, 20, 30});
    c.fillRect(6, 2, 1, 1, {200, 100, 50});
    c.rgba[3] = 0;  // PNGs are written opaque: this alpha must not survive
    const std::string path = ::testing::TempDir() + "canvas_test.png";
    std::string error;
    ASSERT_TRUE(writePng(path, c.width, c.height, c.rgba.data(), &error)) << error;

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u) << "the file has an alpha channel";
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> back(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr));
    std::vector<uint8_t> expected = c.rgba;
    expected[3] = 255;  // read back as opaque
    EXPECT_EQ(back, expected);
    std::remove(path.c_str());

    EXPECT_FALSE(writePng("/nonexistent-folder/x.png", 1, 1, c.rgba.data(), &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace

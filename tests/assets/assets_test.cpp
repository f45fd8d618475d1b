// The demo's default assets: make-assets must still reproduce the committed files
// (compared by decoded pixels and decoded PCM, not by encoder bytes), and the set
// must keep what the demo relies on: JPEGs inside the subset our decoder reads,
// masks the size of their pictures, a 144 s stereo track that decodes gap-free
// with its first kick on frame 0, at a loudness that drives the music level.
// Usage: test_assets MAKE_ASSETS_BINARY COMMITTED_DATA_DIR
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <kiss_fftr.h>
#include <mpg123.h>

namespace fs = std::filesystem;

namespace {

std::string generatorPath;
fs::path committedDir;
fs::path generatedDir;

const char* const COLOUR_FILES[] = {"tex1.jpg", "tex2.jpg", "tex3.jpg", "tex5.jpg", "tex6.jpg",
                                    "tex7.jpg", "tex8.jpg", "tex9.jpg", "tex10.jpg", "tex11.jpg"};
struct MaskPair {
    const char* picture;
    const char* mask;
};
const MaskPair MASK_PAIRS[] = {
    {"tex2.jpg", "tex2mask.jpg"}, {"tex8.jpg", "tex8mask.jpg"}, {"tex9.jpg", "tex9mask.jpg"}};

std::vector<uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// ---- JPEG -------------------------------------------------------------------

struct Picture {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    int hSampling[3] = {0, 0, 0}, vSampling[3] = {0, 0, 0};
    std::vector<uint8_t> pixels;  // decoded by libjpeg, `components` bytes a pixel
};

Picture decodeJpeg(const fs::path& path)
{
    Picture p;
    std::vector<uint8_t> bytes = readFile(path);
    if (bytes.empty())
        return p;
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return p;
    }
    p.width = info.image_width;
    p.height = info.image_height;
    p.components = info.num_components;
    for (int c = 0; c < info.num_components && c < 3; ++c) {
        p.hSampling[c] = info.comp_info[c].h_samp_factor;
        p.vSampling[c] = info.comp_info[c].v_samp_factor;
    }
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    p.pixels.resize((size_t)p.width * p.height * info.output_components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &p.pixels[(size_t)info.output_scanline * p.width * info.output_components];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    p.ok = true;
    return p;
}

// What the marker segments of a file say, walked by hand as our own decoder does.
struct Markers {
    int baselineFrames = 0;   // SOF0
    int otherFrames = 0;      // any other SOFn: progressive, extended, lossless, arithmetic
    int scans = 0;            // SOS
    int restartInterval = 0;  // DRI, 0 when absent
    bool ended = false;       // EOI reached
};

Markers readMarkers(const std::vector<uint8_t>& b)
{
    Markers m;
    size_t i = 2;  // after SOI
    while (i + 2 <= b.size()) {
        if (b[i] != 0xFF)
            return m;
        uint8_t code = b[i + 1];
        if (code == 0xD9) {
            m.ended = true;
            return m;
        }
        if (i + 4 > b.size())
            return m;
        size_t length = (size_t)b[i + 2] << 8 | b[i + 3];
        if (code == 0xC0)
            ++m.baselineFrames;
        else if (code >= 0xC1 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC)
            ++m.otherFrames;
        else if (code == 0xDD)
            m.restartInterval = b[i + 4] << 8 | b[i + 5];
        i += 2 + length;
        if (code == 0xDA) {
            ++m.scans;
            // Entropy-coded data: skip stuffed bytes and restart markers.
            while (i + 1 < b.size() &&
                   !(b[i] == 0xFF && b[i + 1] != 0x00 && (b[i + 1] < 0xD0 || b[i + 1] > 0xD7)))
                ++i;
        }
    }
    return m;
}

bool isSide(int n) { return n == 256 || n == 512; }

// ---- MP3 and the music level ----------------------------------------------

struct Track {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    int bitrate = 0;       // kbps
    bool constant = false; // CBR
    std::vector<int16_t> pcm;  // interleaved stereo
};

Track decodeMp3(const fs::path& path)
{
    Track t;
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h)
        return t;
    // Gapless decoding (the library's default, stated here): trims encoder delay
    // and padding as the LAME tag gives them.
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, path.c_str()) != MPG123_OK) {
        mpg123_delete(h);
        return t;
    }
    int encoding = 0;
    mpg123_getformat(h, &t.rate, &t.channels, &encoding);
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        size_t done = 0;
        int r = mpg123_read(h, buffer.data(), buffer.size(), &done);
        const int16_t* samples = reinterpret_cast<const int16_t*>(buffer.data());
        t.pcm.insert(t.pcm.end(), samples, samples + done / 2);
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            mpg123_close(h);
            mpg123_delete(h);
            return t;
        }
    }
    mpg123_frameinfo info;
    if (mpg123_info(h, &info) == MPG123_OK) {
        t.bitrate = info.bitrate;
        t.constant = info.vbr == MPG123_CBR;
    }
    mpg123_close(h);
    mpg123_delete(h);
    t.ok = true;
    return t;
}

// The music level the demo computes each frame: the mean of the first 40 values of
// a 512-value spectrum (1024-point FFT of the mono mix, Hann window, magnitudes
// 2|X| / sum of the window, clamped to 1, value i from bin i + 1: about 43 Hz to
// 1.7 kHz), here taken every 735 frames (60 a second) over a window that ends there.
std::vector<double> musicLevels(const std::vector<int16_t>& pcm)
{
    const int n = 1024, hop = 735;
    kiss_fftr_cfg fft = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    std::vector<float> window(n), input(n);
    double windowSum = 0.0;
    for (int i = 0; i < n; ++i) {
        window[i] = (float)(0.5 - 0.5 * std::cos(2.0 * M_PI * i / n));
        windowSum += window[i];
    }
    std::vector<kiss_fft_cpx> spectrum(n / 2 + 1);
    std::vector<double> levels;
    size_t frames = pcm.size() / 2;
    for (size_t end = n; end <= frames; end += hop) {
        for (int i = 0; i < n; ++i) {
            size_t k = end - n + i;
            input[i] = window[i] * (float)((pcm[2 * k] + pcm[2 * k + 1]) / 65536.0);
        }
        kiss_fftr(fft, input.data(), spectrum.data());
        double sum = 0.0;
        for (int bin = 1; bin <= 40; ++bin)
            sum += std::min(1.0, 2.0 * std::hypot(spectrum[bin].r, spectrum[bin].i) / windowSum);
        levels.push_back(sum / 40.0);
    }
    kiss_fftr_free(fft);
    return levels;
}

double levelTime(size_t index) { return (1024.0 + index * 735.0) / 44100.0; }

double rmsDbfs(const std::vector<int16_t>& pcm, double from, double to)
{
    size_t a = (size_t)(from * 44100) * 2, b = std::min(pcm.size(), (size_t)(to * 44100) * 2);
    double sum = 0.0;
    for (size_t i = a; i < b; ++i)
        sum += (double)pcm[i] * pcm[i];
    return 10.0 * std::log10(sum / (b - a) / (32768.0 * 32768.0) + 1e-30);
}

// ---- The tests ------------------------------------------------------------

// Runs the generator once, into a temporary folder, for all the tests.
class GeneratedSet : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "velmora-assets-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        generatedDir = name.data();
        std::string command = "'" + generatorPath + "' '" + generatedDir.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!generatedDir.empty())
            fs::remove_all(generatedDir, ignored);
    }
};

class Assets : public ::testing::Test {};

TEST_F(Assets, GeneratorReproducesTheCommittedPictures)
{
    std::vector<std::string> names(std::begin(COLOUR_FILES), std::end(COLOUR_FILES));
    for (const MaskPair& pair : MASK_PAIRS)
        names.push_back(pair.mask);
    EXPECT_EQ(names.size(), 13u);
    for (const std::string& name : names) {
        Picture committed = decodeJpeg(committedDir / "textures" / name);
        Picture generated = decodeJpeg(generatedDir / "textures" / name);
        ASSERT_TRUE(committed.ok) << name << ": committed file missing or unreadable";
        ASSERT_TRUE(generated.ok) << name << ": not generated";
        EXPECT_EQ(committed.width, generated.width) << name;
        EXPECT_EQ(committed.height, generated.height) << name;
        EXPECT_EQ(committed.components, generated.components) << name;
        EXPECT_TRUE(committed.pixels == generated.pixels)
            << name << ": the generator no longer draws the committed picture; run "
            << "build/make-assets data and commit the result";
    }
}

TEST_F(Assets, PicturesStayInsideTheDecodersSubset)
{
    std::vector<std::string> names(std::begin(COLOUR_FILES), std::end(COLOUR_FILES));
    for (const MaskPair& pair : MASK_PAIRS)
        names.push_back(pair.mask);
    for (const std::string& name : names) {
        std::vector<uint8_t> bytes = readFile(committedDir / "textures" / name);
        ASSERT_GT(bytes.size(), 2u) << name;
        EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xD8) << name << ": no SOI";
        Markers m = readMarkers(bytes);
        EXPECT_EQ(m.baselineFrames, 1) << name << ": needs one baseline (SOF0) frame";
        EXPECT_EQ(m.otherFrames, 0) << name << ": progressive or other frame type";
        EXPECT_EQ(m.scans, 1) << name << ": needs exactly one scan";
        EXPECT_TRUE(m.ended) << name << ": no EOI";
        Picture p = decodeJpeg(committedDir / "textures" / name);
        ASSERT_TRUE(p.ok) << name;
        EXPECT_TRUE(isSide(p.width) && isSide(p.height)) << name << ": " << p.width << "x" << p.height;
        ASSERT_TRUE(p.components == 1 || p.components == 3) << name;
        if (p.components == 3) {
            bool full = p.hSampling[0] == 1 && p.vSampling[0] == 1;
            bool half = p.hSampling[0] == 2 && p.vSampling[0] == 2;
            EXPECT_TRUE(full || half) << name << ": luma sampling " << p.hSampling[0] << "x" << p.vSampling[0];
            for (int c = 1; c < 3; ++c)
                EXPECT_TRUE(p.hSampling[c] == 1 && p.vSampling[c] == 1) << name << ": chroma sampling";
        }
        // No restart interval, or exactly one MCU row per interval.
        int mcuWidth = 8 * p.hSampling[0];
        int mcusPerRow = (p.width + mcuWidth - 1) / mcuWidth;
        EXPECT_TRUE(m.restartInterval == 0 || m.restartInterval == mcusPerRow)
            << name << ": restart interval " << m.restartInterval;
    }
    // The two pictures that no scene draws are kept small.
    for (const char* name : {"tex7.jpg", "tex11.jpg"}) {
        Picture p = decodeJpeg(committedDir / "textures" / name);
        EXPECT_LE(p.width * p.height, 256 * 256) << name;
    }
}

// Share of pixels that are clearly transparent (< 16) and clearly opaque (> 239).
void maskShares(const std::vector<uint8_t>& values, int stride, double& clear, double& solid)
{
    size_t count = values.size() / stride, low = 0, high = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t v = values[i * stride];
        low += v < 16;
        high += v > 239;
    }
    clear = (double)low / count;
    solid = (double)high / count;
}

TEST_F(Assets, MasksMatchTheirPicturesAndCutCleanShapes)
{
    for (const MaskPair& pair : MASK_PAIRS) {
        Picture picture = decodeJpeg(committedDir / "textures" / pair.picture);
        Picture mask = decodeJpeg(committedDir / "textures" / pair.mask);
        ASSERT_TRUE(picture.ok && mask.ok) << pair.mask;
        EXPECT_EQ(mask.width, picture.width) << pair.mask;
        EXPECT_EQ(mask.height, picture.height) << pair.mask;
        double clear, solid;
        maskShares(mask.pixels, mask.components, clear, solid);
        // A cut-out: both parts present, and few pixels in between (the edges).
        EXPECT_GT(clear, 0.1) << pair.mask;
        EXPECT_GT(solid, 0.1) << pair.mask;
        EXPECT_GT(clear + solid, 0.93) << pair.mask;
    }
    // tex5 is its own mask (its red channel): it must show somewhere and vanish
    // somewhere, with a soft edge between.
    Picture banner = decodeJpeg(committedDir / "textures" / "tex5.jpg");
    ASSERT_EQ(banner.components, 3);
    double clear, solid;
    maskShares(banner.pixels, 3, clear, solid);
    EXPECT_GT(clear, 0.1);
    EXPECT_GT(solid, 0.2);
}

// Mean absolute difference between two pixel columns (or rows) of an RGB picture.
double lineDifference(const Picture& p, bool columns, int a, int b)
{
    int count = columns ? p.height : p.width;
    double sum = 0.0;
    for (int k = 0; k < count; ++k)
        for (int c = 0; c < 3; ++c) {
            size_t ia = columns ? ((size_t)k * p.width + a) : ((size_t)a * p.width + k);
            size_t ib = columns ? ((size_t)k * p.width + b) : ((size_t)b * p.width + k);
            sum += std::abs(p.pixels[ia * 3 + c] - p.pixels[ib * 3 + c]);
        }
    return sum / (count * 3.0);
}

TEST_F(Assets, RepeatedTexturesTileWithoutSeams)
{
    // tex3 lines the room and wraps around the tubes, tex6 repeats up to 16 times
    // (tex1 is framed on purpose: every cube face shows its border). Across the wrap, neighbouring pixels must differ no more than at the
    // sharper edges inside the picture (its 2% largest steps between neighbours).
    for (const char* name : {"tex3.jpg", "tex6.jpg"}) {
        Picture p = decodeJpeg(committedDir / "textures" / name);
        ASSERT_TRUE(p.ok && p.components == 3) << name;
        for (bool columns : {true, false}) {
            int last = (columns ? p.width : p.height) - 1;
            std::vector<double> inside;
            for (int k = 0; k < last; ++k)
                inside.push_back(lineDifference(p, columns, k, k + 1));
            std::sort(inside.begin(), inside.end());
            double high = inside[inside.size() * 98 / 100];  // 98th percentile
            double seam = lineDifference(p, columns, last, 0);
            EXPECT_LE(seam, high) << name << (columns ? ": left and right edges" : ": top and bottom edges");
        }
    }
}

class Music : public ::testing::Test {
protected:
    static Track committed;
    static std::vector<double> levels;
    static void SetUpTestSuite()
    {
        committed = decodeMp3(committedDir / "music.mp3");
        if (committed.ok)
            levels = musicLevels(committed.pcm);
    }
};
Track Music::committed;
std::vector<double> Music::levels;

TEST_F(Music, GeneratorReproducesTheCommittedTrack)
{
    ASSERT_TRUE(committed.ok) << "data/music.mp3 missing or undecodable";
    Track generated = decodeMp3(generatedDir / "music.mp3");
    ASSERT_TRUE(generated.ok);
    ASSERT_EQ(generated.pcm.size(), committed.pcm.size());
    size_t differing = 0;
    for (size_t i = 0; i < committed.pcm.size(); ++i)
        differing += committed.pcm[i] != generated.pcm[i];
    EXPECT_EQ(differing, 0u) << "the generator no longer makes the committed track; run "
                             << "build/make-assets data and commit the result";
}

TEST_F(Music, IsA144SecondGaplessStereoTrackWithItsFirstKickOnFrameZero)
{
    ASSERT_TRUE(committed.ok);
    EXPECT_EQ(committed.rate, 44100);
    EXPECT_EQ(committed.channels, 2);
    EXPECT_TRUE(committed.constant) << "not constant bit rate";
    EXPECT_GE(committed.bitrate, 160);
    EXPECT_LE(committed.bitrate, 192);
    // With the LAME tag honoured the decoder trims the encoder's delay and padding:
    // exactly 144 s come back.
    EXPECT_EQ(committed.pcm.size() / 2, 144u * 44100u);
    // The first kick is there at once, not after the 1105-frame (25 ms) encoder delay
    // that an untagged file would add.
    size_t first = 0;
    while (first < 4000 && std::abs(committed.pcm[first * 2]) < 3277)  // 0.1 of full scale
        ++first;
    EXPECT_LT(first, 40u) << "first kick starts at frame " << first;
}

TEST_F(Music, HasItsLoudnessAndFadesOutOverTheLastFourSeconds)
{
    ASSERT_TRUE(committed.ok);
    int peak = 0;
    for (int16_t s : committed.pcm)
        peak = std::max(peak, std::abs((int)s));
    double peakDbfs = 20.0 * std::log10(peak / 32768.0);
    double rms = rmsDbfs(committed.pcm, 0.0, 144.0);
    std::printf("music.mp3 decoded: %.3f s, peak %.2f dBFS, RMS %.2f dBFS\n",
                committed.pcm.size() / 2 / 44100.0, peakDbfs, rms);
    EXPECT_GT(peakDbfs, -2.0);
    EXPECT_LT(peakDbfs, -0.3);
    EXPECT_GT(rms, -14.0);
    EXPECT_LT(rms, -10.0);
    // Full level up to 140 s, then down to silence at 144 s.
    EXPECT_GT(rmsDbfs(committed.pcm, 139.0, 140.0), rms - 4.0);
    EXPECT_LT(rmsDbfs(committed.pcm, 143.6, 144.0), rms - 20.0);
}

TEST_F(Music, MusicLevelPulsesWithTheKickInTheRangeTheScenesExpect)
{
    ASSERT_FALSE(levels.empty());
    double sum = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < levels.size() && levelTime(i) < 140.0; ++i, ++count)
        sum += levels[i];
    double mean = sum / count;
    // The highest level within 0.15 s after each kick of the full-level part.
    double kickSum = 0.0, quietSum = 0.0;
    int kicks = 0;
    for (int beat = 0; beat < 280; ++beat) {
        double t = beat * 0.5, high = 0.0, low = 1.0;
        for (size_t i = 0; i < levels.size(); ++i) {
            double at = levelTime(i);
            if (at >= t && at < t + 0.15)
                high = std::max(high, levels[i]);
            if (at >= t + 0.35 && at < t + 0.5)
                low = std::min(low, levels[i]);
        }
        kickSum += high;
        quietSum += low;
        ++kicks;
    }
    double kickMean = kickSum / kicks, quietMean = quietSum / kicks;
    std::printf("music level over 0..140 s: mean %.4f, after kicks %.4f, before kicks %.4f\n",
                mean, kickMean, quietMean);
    EXPECT_GT(mean, 0.02);
    EXPECT_LT(mean, 0.045);
    EXPECT_GT(kickMean, 0.075);
    EXPECT_LT(kickMean, 0.14);
    EXPECT_GT(kickMean, 2.0 * quietMean) << "the level does not pulse with the kick";
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: test_assets MAKE_ASSETS_BINARY COMMITTED_DATA_DIR\n");
        return 2;
    }
    generatorPath = argv[1];
    committedDir = argv[2];
    ::testing::AddGlobalTestEnvironment(new GeneratedSet);
    return RUN_ALL_TESTS();
}

// The texture bank in a real GL context: lookups, names, start-up indices, what GL
// received (formats, filters, pixels), failed loads, and decode-jpeg agreeing with it.
#include <GL/gl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/gl_test.h"
#include "tests/texture/jpeg_test_util.h"
#include "texture/jpeg_decoder.h"
#include "texture/texture_bank.h"

namespace fs = std::filesystem;

namespace {

GLint boundParameter(GLenum name) {
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

GLint levelParameter(int level, GLenum name) {
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

GLuint boundTexture() {
    GLint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return GLuint(name);
}

// Level 0 of the bound texture as RGBA, rows from the top of the picture.
Image boundImage() {
    Image image{levelParameter(0, GL_TEXTURE_WIDTH), levelParameter(0, GL_TEXTURE_HEIGHT), 4, {}};
    image.pixels.resize(size_t(image.width) * image.height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels.data());
    return image;
}

// Each test works in a fresh folder with a textures/ folder below it, and a fresh bank.
class TextureBankTest : public GlTest {
protected:
    std::unique_ptr<TextureBank> bank = std::make_unique<TextureBank>();
    const fs::path testsDir = TEXTURE_TESTS_DIR;
    fs::path startDir, workDir;

    void SetUp() override {
        GlTest::SetUp();
        startDir = fs::current_path();
        workDir = fs::temp_directory_path() / ("velmora-bank-" + std::to_string(getpid()));
        fs::create_directories(workDir / "textures");
        fs::current_path(workDir);
    }
    void TearDown() override {
        fs::current_path(startDir);
        fs::remove_all(workDir);
    }
    // Copies data/<name>.jpg to textures/<as>.
    void install(const std::string& name, const std::string& as) {
        fs::copy_file(testsDir / "data" / (name + ".jpg"), workDir / "textures" / as,
                      fs::copy_options::overwrite_existing);
    }
    // A load with stderr captured into `errors`.
    int loadCapturing(const char* name, const char* mask, int filter, std::string& errors) {
        testing::internal::CaptureStderr();
        const int index = mask ? bank->loadTextureWithMask(name, mask, filter) : bank->loadTexture(name, filter);
        errors = testing::internal::GetCapturedStderr();
        return index;
    }
};

TEST_F(TextureBankTest, StartupLoadsTakeIndicesZeroToNineAndTheirFormats) {
    install("ycc420-37x29", "tex1.jpg");
    install("ycc444-37x29", "tex2.jpg");
    install("grey-37x29", "tex2mask.jpg");
    install("ycc422-37x29", "tex5.jpg");
    install("ycc420-37x29", "tex8.jpg");  // its mask is missing
    textureBank = bank.get();
    testing::internal::CaptureStderr();
    loadStartupTextures();
    const std::string errors = testing::internal::GetCapturedStderr();
    textureBank = nullptr;

    const int ids[] = {tex1Id, tex2Id, tex3Id, tex5Id, tex6Id, tex7Id, tex8Id, tex9Id, tex10Id, tex11Id};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ids[i], i);
    EXPECT_EQ(bank->textureCount, 10u);
    EXPECT_STREQ(bank->fileNames[tex8Id], "tex8.jpg");
    EXPECT_EQ(boundTexture(), bank->glNames[tex11Id]);
    EXPECT_NE(errors.find("velmora: textures/tex3.jpg: No such file or directory\n"), std::string::npos);
    EXPECT_NE(errors.find("velmora: textures/tex8mask.jpg: No such file or directory\n"), std::string::npos);

    bank->bindTexture(tex1Id);  // plain: alpha dropped
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), 3);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_ALPHA_SIZE), 0);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);

    bank->bindTexture(tex2Id);  // masked: alpha from the grey mask
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA8);
    const Image masked = boundImage();
    ASSERT_TRUE(decodeTextureFile("textures/tex2mask.jpg"));
    for (size_t i = 0; i < size_t(37 * 29); ++i) ASSERT_EQ(masked.pixels[i * 4 + 3], jpegDecoder.pixels[i * 4]);
    releaseJpegPixels();

    bank->bindTexture(tex5Id);  // its own mask: alpha is red
    const Image own = boundImage();
    for (size_t i = 0; i < own.pixels.size(); i += 4) ASSERT_EQ(own.pixels[i + 3], own.pixels[i]);

    bank->bindTexture(tex8Id);  // failed mask: no image, filters still set
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 0);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
}

// Every start-up texture as GL holds it, and what the loads printed.
struct StartupResult {
    std::vector<Image> images;
    std::string errors;
};

StartupResult loadStartup(TextureBank& bank, bool prefetch) {
    StartupResult result;
    textureBank = &bank;
    testing::internal::CaptureStderr();
    if (prefetch) prefetchStartupTextures();
    loadStartupTextures();
    result.errors = testing::internal::GetCapturedStderr();
    textureBank = nullptr;
    for (int id : {tex1Id, tex2Id, tex3Id, tex5Id, tex6Id, tex7Id, tex8Id, tex9Id, tex10Id, tex11Id}) {
        bank.bindTexture(id);
        result.images.push_back(boundImage());
    }
    return result;
}

TEST_F(TextureBankTest, PrefetchedStartupLoadsGiveTheSameTexturesAndLines) {
    install("ycc420-37x29", "tex1.jpg");
    install("ycc444-37x29", "tex2.jpg");
    install("grey-37x29", "tex2mask.jpg");
    install("ycc422-37x29", "tex5.jpg");
    install("ycc420-restart-row-45x35", "tex6.jpg");
    install("ycc420-37x29", "tex8.jpg");  // its mask is missing
    install("ycc444-37x29", "tex9.jpg");
    install("grey-23x17", "tex9mask.jpg");  // another size
    install("ycc420-optimized-50x42", "tex11.jpg");
    // Cut short: damaged pictures that still load, each with one line (tex5.jpg is also
    // its own mask, and still a single file).
    const std::string whole = (testsDir / "data" / "ycc420-optimized-50x42.jpg").string();
    for (const char* cut : {"tex10.jpg", "tex5.jpg"}) {
        fs::copy_file(whole, workDir / "textures" / cut, fs::copy_options::overwrite_existing);
        fs::resize_file(workDir / "textures" / cut, fs::file_size(whole) / 2);
    }

    const auto plain = std::make_unique<TextureBank>();
    const StartupResult expected = loadStartup(*plain, false);
    const StartupResult prefetched = loadStartup(*bank, true);
    EXPECT_EQ(prefetched.errors, expected.errors);
    EXPECT_NE(expected.errors.find("tex10.jpg: image data ends early"), std::string::npos) << expected.errors;
    for (const char* name : {"tex5.jpg", "tex10.jpg"}) {
        size_t lines = 0;
        for (size_t at = expected.errors.find(name); at != std::string::npos; at = expected.errors.find(name, at + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << name << " in:\n" << expected.errors;
    }
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(prefetched.images[i].width, expected.images[i].width);
        EXPECT_EQ(prefetched.images[i].height, expected.images[i].height);
        EXPECT_TRUE(prefetched.images[i].pixels == expected.images[i].pixels);
    }
    EXPECT_GT(expected.images[9].width, 0);
}

// On a slow disk the loads wait for the prefetch asleep: the loading thread's processor
// time stays a small part of the time it waits. A machine too busy to give the old busy
// wait a processor shows nothing either way, so this can only fail on a real spin.
TEST_F(TextureBankTest, LoadsWaitingForASlowPrefetchSleep) {
    install("ycc420-37x29", "tex1.jpg");
    textureBank = bank.get();
    prefetchReadDelayMs = 80;  // 13 files: about a second of waiting
    testing::internal::CaptureStderr();
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const auto start = std::chrono::steady_clock::now();
    prefetchStartupTextures();
    loadStartupTextures();
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_THREAD, &after);
    testing::internal::GetCapturedStderr();
    prefetchReadDelayMs = 0;
    textureBank = nullptr;
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_stime);
    EXPECT_GE(waited, 13 * 0.08);
    EXPECT_LT(cpu, 0.1 * waited) << cpu << " s of processor time over " << waited << " s";
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 0);  // tex11.jpg is missing
    bank->bindTexture(tex1Id);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 37);
}

TEST_F(TextureBankTest, ANameAlreadyLoadedReturnsItsEntryAndTouchesNothing) {
    install("ycc420-16x16", "a.jpg");
    const int first = bank->loadTexture("a.jpg", GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(bank->loadTexture("a.jpg", GL_NEAREST), first);
    EXPECT_EQ(bank->loadTextureWithMask("a.jpg", "other.jpg", GL_NEAREST), first);
    EXPECT_EQ(bank->textureCount, 1u);
    EXPECT_EQ(boundTexture(), 0u);
    bank->bindTexture(first);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(bank->loadTexture("A.jpg", GL_LINEAR), first + 1);  // case matters
}

TEST_F(TextureBankTest, ExtensionTestAndFailedLoadsStillYieldEntries) {
    const char* names[] = {"TEX1.JPG", "tex1.JpG", "tex1jpg", "tex1.jpeg", "pg"};
    const bool passes[] = {true, true, true, false, false};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i]);
        install("grey-23x17", names[i]);
        std::string errors;
        const int index = loadCapturing(names[i], nullptr, GL_NEAREST, errors);
        EXPECT_EQ(index, i);
        EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), passes[i] ? 23 : 0);
        EXPECT_EQ(boundParameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
        EXPECT_EQ(errors.empty(), passes[i]) << errors;
    }
}

// Files that are not pictures of a plausible size: nothing blocks or reads gigabytes,
// each gets an entry without an image and one line with the true reason.
TEST_F(TextureBankTest, PipesFoldersDevicesAndHugeFilesAreRefusedAtOnceWithTheirReason) {
    const fs::path dir = workDir / "textures";
    ASSERT_EQ(mkfifo((dir / "pipe.jpg").c_str(), 0644), 0);
    fs::create_directories(dir / "folder.jpg");
    fs::create_symlink("/dev/zero", dir / "zero.jpg");
    { std::ofstream((dir / "huge.jpg").string()); }
    fs::resize_file(dir / "huge.jpg", (uint64_t(3) << 30) + 5);  // sparse: nothing on disk
    install("ycc420-37x29", "good.jpg");
    fs::create_directories(dir / "maskfolder.jpg");
    { std::ofstream((dir / "empty.jpg").string()); }

    const std::pair<const char*, std::string> cases[] = {
        {"pipe.jpg", "is not a regular file (a named pipe)"},
        {"folder.jpg", "is a folder"},
        {"zero.jpg", "is not a regular file (a device)"},
        {"huge.jpg", "larger than 64 MiB (3.00 GiB); not read"},
        {"empty.jpg", "empty file"},
    };
    for (const auto& [name, reason] : cases) {
        std::string errors;
        const int index = loadCapturing(name, nullptr, GL_LINEAR, errors);
        EXPECT_GE(index, 0) << name;
        EXPECT_EQ(errors, "velmora: textures/" + std::string(name) + ": " + reason + "\n");
        EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 0) << name;
    }
    std::string errors;
    loadCapturing("good.jpg", "maskfolder.jpg", GL_LINEAR, errors);
    EXPECT_EQ(errors, "velmora: textures/maskfolder.jpg: is a folder\n");
}

TEST_F(TextureBankTest, MipmappedLoadsScaleAndSetTheirFilters) {
    install("ycc420-37x29", "m.jpg");
    bank->loadTexture("m.jpg", TEXTURE_MIPMAPPED);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 32);  // nearest power of two
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_HEIGHT), 32);
    EXPECT_EQ(levelParameter(5, GL_TEXTURE_WIDTH), 1);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), 3);
    bank->loadTextureWithMask("n.jpg", "m.jpg", TEXTURE_MIPMAPPED);  // n.jpg missing
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 0);
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
}

TEST_F(TextureBankTest, MaskOfAnotherSizeGivesNoImageAndSaysWhy) {
    install("ycc420-37x29", "c.jpg");
    install("grey-23x17", "small.jpg");
    std::string errors;
    EXPECT_EQ(loadCapturing("c.jpg", "small.jpg", GL_LINEAR, errors), 0);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 0);
    EXPECT_EQ(errors, "velmora: textures/small.jpg: mask is 23 x 17 pixels, picture 37 x 29\n");
}

TEST_F(TextureBankTest, FullBankAndOverlongNames) {
    std::string errors;
    const std::string fits(TEXTURE_MAX_NAME_LENGTH - 4, 'a'), tooLong(TEXTURE_MAX_NAME_LENGTH - 3, 'a');
    EXPECT_EQ(loadCapturing((fits + ".jpg").c_str(), nullptr, GL_LINEAR, errors), 0);
    EXPECT_EQ(errors, "velmora: textures/" + fits + ".jpg: No such file or directory\n");
    EXPECT_EQ(loadCapturing((tooLong + ".jpg").c_str(), nullptr, GL_LINEAR, errors), 1);
    EXPECT_EQ(errors, "velmora: textures/" + tooLong + ".jpg: file name longer than 246 characters\n");
    EXPECT_EQ(boundParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    install("ycc420-16x16", "ok.jpg");
    EXPECT_EQ(loadCapturing("ok.jpg", (tooLong + ".jpg").c_str(), GL_LINEAR, errors), 2);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_WIDTH), 0);
    // Names too long to load never match, not even the cut-off record of a longer one.
    const std::string huge(300, 'b');
    EXPECT_EQ(loadCapturing(huge.c_str(), nullptr, GL_LINEAR, errors), 3);
    EXPECT_EQ(loadCapturing(huge.substr(0, TEXTURE_NAME_SIZE - 1).c_str(), nullptr, GL_LINEAR, errors), 4);
    EXPECT_EQ(loadCapturing((fits + ".jpg").c_str(), nullptr, GL_LINEAR, errors), 0);

    bank->textureCount = MAX_TEXTURES;
    EXPECT_EQ(loadCapturing("ok.jpg", nullptr, GL_LINEAR, errors), 2);  // lookups still hit
    EXPECT_EQ(loadCapturing("new.jpg", nullptr, GL_LINEAR, errors), -1);
    EXPECT_EQ(errors, "velmora: textures/new.jpg: texture bank full (512 entries)\n");
    EXPECT_EQ(bank->textureCount, uint32_t(MAX_TEXTURES));
    glDisable(GL_TEXTURE_2D);
    bank->bindTexture(-1);
    EXPECT_EQ(boundTexture(), 0u);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(TextureBankTest, DecodeJpegToolWritesExactlyWhatTheBankUploads) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(testsDir / "data"))
        if (entry.path().extension() == ".jpg") names.push_back(entry.path().stem().string());
    // A copy cut short in its scan: the tool and the bank fill in the same grey.
    const fs::path whole = testsDir / "data" / "ycc420-optimized-50x42.jpg";
    fs::copy_file(whole, workDir / "textures" / "cut.jpg");
    fs::resize_file(workDir / "textures" / "cut.jpg", fs::file_size(whole) * 2 / 3);
    names.push_back("cut");

    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        if (names[i] != "cut") install(names[i], names[i] + ".jpg");
        const std::string jpeg = "textures/" + names[i] + ".jpg", pam = names[i] + ".pam";
        const std::string command = std::string(DECODE_JPEG_TOOL) + " " + jpeg + " " + pam + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        FILE* file = std::fopen(pam.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        const Image tool = readNetpbm(file);
        std::fclose(file);

        std::string errors;
        loadCapturing((names[i] + ".jpg").c_str(), nullptr, GL_NEAREST, errors);
        EXPECT_EQ(errors.empty(), names[i] != "cut") << errors;
        const Image uploaded = boundImage();
        ASSERT_EQ(tool.depth, 4);
        ASSERT_EQ(tool.width, uploaded.width);
        ASSERT_EQ(tool.height, uploaded.height);
        EXPECT_TRUE(tool.pixels == uploaded.pixels);
    }
}

TEST_F(TextureBankTest, DecodeJpegToolFailsLoudlyAndWritesNothing) {
    std::ofstream("textures/bad.jpg") << "not a jpeg";
    const std::string tool = DECODE_JPEG_TOOL;
    EXPECT_NE(std::system((tool + " textures/bad.jpg out.pam 2>err.txt").c_str()), 0);
    EXPECT_FALSE(fs::exists("out.pam"));
    std::string line;
    std::getline(std::ifstream("err.txt"), line);
    EXPECT_EQ(line, "decode-jpeg: textures/bad.jpg: not a JPEG file");
    EXPECT_NE(std::system((tool + " textures/missing.jpg out.pam 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(fs::exists("out.pam"));
}

}  // namespace

// The tools' shared output and argument checks: files appear whole or not at all under
// the asked name, device names are written in place and their failures count, and
// command-line numbers are refused whole before use.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/common/arguments.h"
#include "tools/common/output_file.h"
#include "tools/common/png_file.h"

namespace fs = std::filesystem;

namespace {

class OutputFileTest : public testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("velmora-output-" + std::to_string(getpid()));
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const auto& e : fs::directory_iterator(dir)) all.push_back(e.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir / name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(OutputFileTest, BytesAppearUnderTheNameOnlyWhenCommitted) {
    const std::string path = (dir / "clip.part.mp4").string();
    EXPECT_EQ(temporaryPathFor(path), (dir / (".clip.part.tmp-" + std::to_string(getpid()) + ".mp4")).string());
    EXPECT_EQ(temporaryPathFor("log"), ".log.tmp-" + std::to_string(getpid()));

    { std::ofstream(dir / "old.txt") << "old"; }
    OutputFile out;
    std::string error;
    ASSERT_TRUE(openOutput(out, (dir / "old.txt").string(), &error)) << error;
    std::fputs("new", out.file);
    EXPECT_EQ(read("old.txt"), "old") << "visible before the commit";
    EXPECT_EQ(names().size(), 2u);
    ASSERT_TRUE(commitOutput(out, &error)) << error;
    EXPECT_EQ(read("old.txt"), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"old.txt"});

    // Given up half-way: the old file stays, the temporary one goes.
    ASSERT_TRUE(openOutput(out, (dir / "old.txt").string(), &error));
    std::fputs("half", out.file);
    discardOutput(out);
    EXPECT_EQ(read("old.txt"), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"old.txt"});
}

TEST_F(OutputFileTest, DevicesAreWrittenInPlaceAndAFullOneFails) {
    EXPECT_TRUE(writtenInPlace("/dev/null"));
    EXPECT_FALSE(writtenInPlace((dir / "none.txt").string()));
    OutputFile out;
    std::string error;
    ASSERT_TRUE(openOutput(out, "/dev/full", &error)) << error;
    EXPECT_EQ(out.writePath, "/dev/full");
    std::fputs("anything", out.file);  // buffered: the failure shows on commit
    EXPECT_FALSE(commitOutput(out, &error));
    EXPECT_EQ(error, "cannot write: No space left on device");
    EXPECT_TRUE(fs::exists("/dev/full"));

    const uint8_t pixel[4] = {1, 2, 3, 255};
    EXPECT_FALSE(writePng("/dev/full", 1, 1, pixel, &error));
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_FALSE(writePng((dir / "missing" / "a.png").string(), 1, 1, pixel, &error));
    EXPECT_TRUE(writePng((dir / "a.png").string(), 1, 1, pixel, &error)) << error;
    EXPECT_EQ(names(), std::vector<std::string>{"a.png"});
}

// Any name the file system takes works, its temporary name included, and one it does not
// take is refused by the probe, with the system's reason, before anything is written.
TEST_F(OutputFileTest, NamesAsLongAsTheFileSystemTakesWork) {
    std::string accented;  // 250 bytes of two-byte UTF-8 letters, then .png
    for (int i = 0; i < 125; ++i) accented += "\xC3\xA9";
    for (const std::string& name : {std::string(246, 'n') + ".png", accented + ".png", std::string(255, 'x')}) {
        SCOPED_TRACE(name.size());
        const std::string path = (dir / name).string();
        for (const char* tag : {"tmp", "part"}) {
            const std::string temporary = fs::path(temporaryPathFor(path, tag)).filename().string();
            EXPECT_LE(temporary.size(), 255u);
            EXPECT_NE(temporary.find(std::string(".") + tag + "-" + std::to_string(getpid())), std::string::npos);
            EXPECT_EQ(temporary.substr(0, 2), "." + name.substr(0, 1));
            const std::string extension = name.find(".png") != std::string::npos ? ".png" : "";
            EXPECT_EQ(temporary.substr(temporary.size() - extension.size()), extension);
            EXPECT_EQ(std::count(temporary.begin(), temporary.end(), '\xC3'),
                      std::count(temporary.begin(), temporary.end(), '\xA9'))
                << "a letter cut in two";
        }
        std::string error;
        EXPECT_TRUE(probeOutput(path, &error)) << error;
        const uint8_t pixel[4] = {1, 2, 3, 255};
        ASSERT_TRUE(writePng(path, 1, 1, pixel, &error)) << error;
        EXPECT_EQ(names(), std::vector<std::string>{name});
        fs::remove(dir / name);
    }
    std::string error;
    EXPECT_FALSE(probeOutput((dir / std::string(256, 'n')).string(), &error));
    EXPECT_EQ(error, "File name too long");
    EXPECT_FALSE(probeOutput((dir / "missing" / "a.png").string(), &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(probeOutput("/dev/null/a.png", &error));
    EXPECT_EQ(error, "Not a directory");
    EXPECT_TRUE(probeOutput("/dev/null", &error)) << error;
    EXPECT_TRUE(names().empty());  // the probes leave nothing behind
}

TEST(Arguments, NumbersAreTakenWholeFiniteAndInRange) {
    double v = -1;
    EXPECT_TRUE(parseNumberArgument("2.5", 0, 10, v));
    EXPECT_EQ(v, 2.5);
    for (const char* bad : {"", "nan", "NAN", "inf", "-inf", "1e400", "12x", " 3", "3 ", "11", "-0.5", "0x20"}) {
        v = -1;
        EXPECT_FALSE(parseNumberArgument(bad, 0, 10, v)) << bad;
        EXPECT_EQ(v, -1) << bad;
    }
    int n = -1;
    EXPECT_TRUE(parseIntArgument("44100", 8000, 48000, n));
    EXPECT_EQ(n, 44100);
    for (const char* bad : {"", "99999999999999999999", "4294967296", "-1", "8000.5", "1e4", "44100 "}) {
        n = -1;
        EXPECT_FALSE(parseIntArgument(bad, 0, 48000, n)) << bad;
        EXPECT_EQ(n, -1) << bad;
    }
}

}  // namespace

// The music player as the demo drives it: silent with one stderr line on every bad input,
// loading without a device, offline listening, slots, and playing on SDL's dummy driver.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "app/timeline.h"
#include "audio/music_player.h"
#include "tests/audio/audio_test_support.h"
#include "tools/music_plot/mp3_encode.h"

namespace {

std::string writeScratch(const std::string& name, const std::vector<unsigned char>& bytes) {
    const std::string path = scratchPath(name);
    writeFile(path, bytes);
    return path;
}

// 2 s of the synthesised beat: loud in the low bins the music level reads.
const std::string& beatFile() {
    static const std::string path =
        writeScratch("beat.mp3", encodeOrFail(synthBeat(2.0, 44100, 120), 2, 44100, 128));
    return path;
}

bool allZero(const float* values) {
    for (int i = 0; i < SPECTRUM_SIZE; ++i)
        if (values[i] != 0.0f) return false;
    return true;
}

int lineCount(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

// Runs `action` and returns what it printed on stderr.
template <typename Action>
std::string stderrOf(Action action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

// The tests play on SDL's dummy driver, which needs no sound hardware.
class Player : public testing::Test {
protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

TEST_F(Player, MissingOrBadFileLeavesTheDemoSilentWithOneLine) {
    std::mt19937 random(11);
    std::vector<unsigned char> noise(50000);
    for (auto& b : noise) b = static_cast<unsigned char>(random());
    const std::vector<unsigned char> mp3 = encodeOrFail(sine(200, 0.5, 44100, 2), 2, 44100);
    const std::pair<std::string, std::vector<unsigned char>> files[] = {
        {"empty.mp3", {}},
        {"random.mp3", noise},
        {"wave.mp3", wavOfNoise(44100, 5)},
        {"cut.mp3", {mp3.begin(), mp3.begin() + 300}},
    };
    std::vector<std::string> paths = {"no-such-folder/music.mp3"};
    for (const auto& [name, bytes] : files) paths.push_back(writeScratch(name, bytes));
    for (const std::string& path : paths) {
        MusicPlayer player;
        const float* values = nullptr;
        const std::string printed = stderrOf([&] {
            EXPECT_TRUE(player.initMusic()) << path;
            EXPECT_FALSE(player.loadStream(0, path.c_str())) << path;
            player.playStream(0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            values = player.spectrum();
            player.stopStream(0);
            player.closeMusic();
        });
        EXPECT_EQ(lineCount(printed), 1) << path << ": " << printed;
        EXPECT_NE(printed.find(path), std::string::npos) << printed;
        EXPECT_EQ(player.track(0), nullptr) << path;
        ASSERT_NE(values, nullptr);
        EXPECT_TRUE(allZero(values)) << path;
        EXPECT_EQ(computeMusicLevel(values), 0.0f);
    }
}

// What is not a regular file, or too large to be a track, is refused before anything is
// read (a named pipe would block for ever, a sparse file cost gigabytes), with the true
// reason in the one line, and the slot keeps what it held.
TEST_F(Player, PipesFoldersDevicesAndHugeFilesAreRefusedUnreadWithTheirReason) {
    const std::string pipe = scratchPath("pipe.mp3"), folder = scratchPath("folder.mp3"),
                      device = scratchPath("device.mp3"), huge = scratchPath("huge.mp3");
    std::filesystem::remove_all(folder);
    for (const std::string& p : {pipe, device, huge}) std::filesystem::remove(p);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("/dev/zero", device);
    writeFile(huge, {});
    std::filesystem::resize_file(huge, uint64_t(5) << 30);  // sparse
    const std::pair<std::string, std::string> cases[] = {
        {pipe, "is not a regular file (a named pipe)"},
        {folder, "is a folder"},
        {device, "is not a regular file (a device)"},
        {huge, "larger than 64 MiB (5.00 GiB); not read"},
    };
    // A track of its own: other test processes may be rewriting the shared beat file.
    const std::string kept = writeScratch("kept.mp3", encodeOrFail(sine(200, 0.5, 2 * 44100, 2), 2, 44100));
    MusicPlayer player;
    stderrOf([&] { ASSERT_TRUE(player.loadStream(0, kept.c_str())); });
    for (const auto& [path, reason] : cases) {
        const std::string printed = stderrOf([&] { EXPECT_FALSE(player.loadStream(0, path.c_str())); });
        EXPECT_EQ(printed, "velmora: " + path + ": " + reason + "\n");
        ASSERT_NE(player.track(0), nullptr) << path;
        EXPECT_EQ(player.track(0)->frameCount, 2 * 44100) << path;
    }
    std::filesystem::remove(huge);
}

TEST_F(Player, DamagedFilePlaysWhatDecodesWithOneLine) {
    std::vector<unsigned char> mp3 = encodeOrFail(synthBeat(2.0, 44100, 120), 2, 44100, 128);
    for (size_t i = mp3.size() / 2; i < mp3.size() / 2 + 800; ++i) mp3[i] = 0;
    const std::string path = writeScratch("damaged.mp3", mp3);
    MusicPlayer player;
    const std::string printed = stderrOf([&] { EXPECT_TRUE(player.loadStream(0, path.c_str())); });
    EXPECT_EQ(lineCount(printed), 1) << printed;
    ASSERT_NE(player.track(0), nullptr);
    EXPECT_GT(player.track(0)->frameCount, 44100);
}

TEST_F(Player, LoadsWithoutADeviceAndListensOfflineExactlyAsComputed) {
    MusicPlayer player;
    const std::string printed = stderrOf([&] { EXPECT_TRUE(player.loadStream(0, beatFile().c_str())); });
    EXPECT_EQ(printed, "");
    const MusicTrack* track = player.track(0);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->frameCount, 2 * 44100);
    EXPECT_TRUE(allZero(player.spectrum()));  // nothing plays yet

    float expected[SPECTRUM_SIZE];
    for (int64_t frame : {int64_t(-10), int64_t(0), int64_t(300), int64_t(22050), int64_t(88199), int64_t(88200)}) {
        player.setListeningPosition(frame);
        const float* values = player.spectrum();
        computeSpectrum(*track, frame, expected);
        for (int i = 0; i < SPECTRUM_SIZE; ++i) ASSERT_EQ(values[i], expected[i]) << frame << " " << i;
    }
    player.setListeningPosition(300);  // just after a kick at 0 s
    EXPECT_GT(computeMusicLevel(player.spectrum()), 0.02f);
    player.setListeningPosition(88200);  // past the end
    EXPECT_EQ(computeMusicLevel(player.spectrum()), 0.0f);
}

TEST_F(Player, ReloadingReplacesASlotAndAnUnreadableFileLeavesItAlone) {
    MusicPlayer player;
    const std::string shortFile =
        writeScratch("short.mp3", encodeOrFail(sine(500, 0.3, 22050, 2), 2, 44100));
    stderrOf([&] {
        ASSERT_TRUE(player.loadStream(3, beatFile().c_str()));
        ASSERT_TRUE(player.loadStream(3, shortFile.c_str()));
        ASSERT_NE(player.track(3), nullptr);
        EXPECT_EQ(player.track(3)->frameCount, 22050);
        EXPECT_FALSE(player.loadStream(3, "no-such-folder/other.mp3"));
        ASSERT_NE(player.track(3), nullptr);
        EXPECT_EQ(player.track(3)->frameCount, 22050);
        EXPECT_FALSE(player.loadStream(3, writeScratch("zero.mp3", {}).c_str()));
        EXPECT_EQ(player.track(3), nullptr);
    });
}

TEST_F(Player, SlotNumbersOutsideZeroToNineAreRefused) {
    MusicPlayer player;
    const std::string printed = stderrOf([&] {
        EXPECT_FALSE(player.loadStream(10, beatFile().c_str()));
        EXPECT_FALSE(player.loadStream(-1, beatFile().c_str()));
        player.playStream(10, 0);
        player.playStream(-1, 0);
        player.stopStream(-3);
        player.stopStream(12);
    });
    EXPECT_EQ(lineCount(printed), 2) << printed;
    EXPECT_EQ(player.track(10), nullptr);
    EXPECT_EQ(player.track(-1), nullptr);
    EXPECT_TRUE(allZero(player.spectrum()));
}

// Waits up to 2 s for the spectrum to show the playing track.
bool spectrumMoves(MusicPlayer& player) {
    for (int i = 0; i < 200; ++i) {
        if (!allZero(player.spectrum())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(Player, SpectrumFollowsPlaybackOnlyWhilePlaying) {
    MusicPlayer player;
    ASSERT_TRUE(player.initMusic());
    ASSERT_TRUE(player.loadStream(0, beatFile().c_str()));
    EXPECT_TRUE(allZero(player.spectrum()));
    player.playStream(0, 0);
    EXPECT_TRUE(spectrumMoves(player));
    player.stopStream(0);
    EXPECT_TRUE(allZero(player.spectrum()));
    player.playStream(0, 0);
    EXPECT_TRUE(spectrumMoves(player));
    player.closeMusic();
    EXPECT_TRUE(allZero(player.spectrum()));
    player.playStream(0, 0);  // no device any more
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(allZero(player.spectrum()));
}

TEST_F(Player, NoAudioDeviceLeavesTheDemoSilentWithOneLine) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    MusicPlayer player;
    const std::string printed = stderrOf([&] {
        EXPECT_FALSE(player.initMusic());
        EXPECT_TRUE(player.loadStream(0, beatFile().c_str()));
        player.playStream(0, 0);
    });
    EXPECT_EQ(lineCount(printed), 1) << printed;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(allZero(player.spectrum()));
    player.stopStream(0);
    player.closeMusic();
}

}  // namespace

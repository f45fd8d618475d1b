// The data-folder choice on real folders: the working folder's own assets win, the
// installed copy serves when there are none, and nothing usable keeps the working folder.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/data_folder.h"

namespace {

// A fresh temporary tree: `here` (the working folder during the test) and `installed`,
// both empty; the original working folder comes back afterwards.
class DataFolder : public ::testing::Test {
protected:
    std::string root, here, installed;
    char previous[PATH_MAX] = {};

    void SetUp() override {
        char name[] = "/tmp/velmora-data-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        here = root + "/here";
        installed = root + "/installed";
        ASSERT_EQ(mkdir(here.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(installed.c_str(), 0755), 0);
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(here.c_str()), 0);
    }
    void TearDown() override {
        if (previous[0]) {
            EXPECT_EQ(chdir(previous), 0);
        }
        std::system(("rm -rf '" + root + "'").c_str());
    }
    static void touch(const std::string& path) {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr) << path;
        std::fclose(f);
    }
};

TEST_F(DataFolder, EitherTheTrackOrTheTextureFolderCountsAsAssets) {
    EXPECT_FALSE(hasDemoAssets(here));
    touch(here + "/notes.txt");
    touch(here + "/music.mp3.bak");
    EXPECT_FALSE(hasDemoAssets(here)) << "only the demo's own names count";
    touch(here + "/music.mp3");
    EXPECT_TRUE(hasDemoAssets(here));
    ASSERT_EQ(mkdir((installed + "/textures").c_str(), 0755), 0);
    EXPECT_TRUE(hasDemoAssets(installed)) << "an empty textures/ still marks the folder";
    EXPECT_FALSE(hasDemoAssets(root + "/missing"));
}

TEST_F(DataFolder, WorkingFolderWinsWhenItHasAssetsOfItsOwn) {
    touch(installed + "/music.mp3");
    EXPECT_EQ(chooseDataFolder(installed), installed) << "nothing here: the installed copy";

    ASSERT_EQ(mkdir("textures", 0755), 0);
    EXPECT_EQ(chooseDataFolder(installed), ".") << "a textures/ alone makes the user's folder";
    ASSERT_EQ(rmdir("textures"), 0);
    touch("music.mp3");
    EXPECT_EQ(chooseDataFolder(installed), ".") << "a music.mp3 alone makes the user's folder";
}

TEST_F(DataFolder, NoUsableInstalledCopyKeepsTheWorkingFolder) {
    EXPECT_EQ(chooseDataFolder(installed), ".") << "installed copy without assets";
    EXPECT_EQ(chooseDataFolder(root + "/missing"), ".");
    EXPECT_EQ(chooseDataFolder(""), ".");
}

// VELMORA_DATA (what the menu entry sets) names the folder whatever the working folder
// holds; a folder that cannot be entered is said in one line and the working one kept.
TEST_F(DataFolder, VelmoraDataNamesTheFolderOverTheWorkingOnesAssets) {
    touch("music.mp3");
    setenv("VELMORA_DATA", installed.c_str(), 1);
    EXPECT_EQ(enterDataFolder("velmora"), installed);
    ASSERT_EQ(chdir(here.c_str()), 0);
    setenv("VELMORA_DATA", (root + "/missing").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(enterDataFolder("velmora"), here);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "velmora: cannot enter " + root + "/missing: No such file or directory\n");
    setenv("VELMORA_DATA", "", 1);
    EXPECT_EQ(enterDataFolder("velmora"), here) << "empty: the usual choice";
    unsetenv("VELMORA_DATA");
}

TEST(InstalledDataFolder, SitsBesideTheProgramsFolder) {
    EXPECT_EQ(installedDataFolder("/usr/bin/velmora"), "/usr/bin/../share/velmora");
    EXPECT_EQ(installedDataFolder("/opt/v/bin/velmora-capture"), "/opt/v/bin/../share/velmora");
    EXPECT_EQ(installedDataFolder("velmora"), "") << "no folder part: nothing to go by";
}

}  // namespace

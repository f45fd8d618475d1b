// The data-folder choice: the working folder's own assets win over the installed ones.
#include "app/data_folder.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

// The asset folder relative to the program's folder, from the install layout
// (bin -> share/velmora by default); set by the build.
#ifndef VELMORA_DATA_FROM_BINDIR
#define VELMORA_DATA_FROM_BINDIR "../share/velmora"
#endif

namespace {
bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string workingFolder() {
    char path[PATH_MAX];
    return getcwd(path, sizeof path) ? std::string(path) : std::string(".");
}
}  // namespace

bool hasDemoAssets(const std::string& folder) {
    return exists(folder + "/music.mp3") || exists(folder + "/textures");
}

std::string installedDataFolder(const std::string& programPath) {
    const size_t slash = programPath.find_last_of('/');
    if (slash == std::string::npos) return "";
    return programPath.substr(0, slash + 1) + VELMORA_DATA_FROM_BINDIR;
}

std::string chooseDataFolder(const std::string& installed) {
    if (hasDemoAssets(".")) return ".";
    if (!installed.empty() && hasDemoAssets(installed)) return installed;
    return ".";
}

std::string enterDataFolder(const char* programName) {
    char program[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
    const std::string installed = n > 0 ? installedDataFolder(std::string(program, n)) : "";
    const char* asked = std::getenv("VELMORA_DATA");
    const std::string folder = asked && *asked ? std::string(asked) : chooseDataFolder(installed);
    if (folder != "." && chdir(folder.c_str()) != 0)
        std::fprintf(stderr, "%s: cannot enter %s: %s\n", programName, folder.c_str(), std::strerror(errno));
    return workingFolder();
}

// Temporary names, checked closes and renames for the tools' outputs.
#include "tools/common/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string temporaryPathFor(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    return folder + "." + stem + ".tmp-" + std::to_string(getpid()) + extension;
}

bool writtenInPlace(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool placeOutput(const std::string& temporary, const std::string& path, std::string* error) {
    if (temporary == path) return true;
    struct stat written {}, placed {};
    if (stat(temporary.c_str(), &written) != 0) {
        if (error) *error = "the finished file is missing (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        if (error) *error = std::string("cannot put the file in place: ") + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    if (stat(path.c_str(), &placed) != 0 || !S_ISREG(placed.st_mode) || placed.st_size != written.st_size) {
        if (error) *error = "the file is not there after writing it";
        return false;
    }
    return true;
}

bool openOutput(OutputFile& output, const std::string& path, std::string* error) {
    output.path = path;
    output.writePath = writtenInPlace(path) ? path : temporaryPathFor(path);
    output.file = std::fopen(output.writePath.c_str(), "wb");
    if (!output.file) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    return true;
}

bool commitOutput(OutputFile& output, std::string* error) {
    if (!output.file) {
        if (error) *error = "not open";
        return false;
    }
    // ferror catches a write that failed earlier; fflush and fclose the ones still buffered.
    std::string why;
    const bool earlier = std::ferror(output.file) != 0;
    if (std::fflush(output.file) != 0) why = std::strerror(errno);
    if (std::fclose(output.file) != 0 && why.empty()) why = std::strerror(errno);
    output.file = nullptr;
    if (earlier && why.empty()) why = "a write failed";
    if (!why.empty()) {
        if (error) *error = "cannot write: " + why;
        if (output.writePath != output.path) unlink(output.writePath.c_str());
        return false;
    }
    return placeOutput(output.writePath, output.path, error);
}

void discardOutput(OutputFile& output) {
    if (output.file) std::fclose(output.file);
    output.file = nullptr;
    if (!output.writePath.empty() && output.writePath != output.path) unlink(output.writePath.c_str());
}

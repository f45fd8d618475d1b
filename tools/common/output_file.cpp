// Temporary names, checked closes and renames for the tools' outputs.
#include "tools/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

std::string temporaryPathFor(const std::string& path, const std::string& tag) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    std::string extension = hasExtension ? name.substr(dot) : "";
    const std::string marker = "." + tag + "-" + std::to_string(getpid());
    const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    const size_t longest = limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
    const size_t fixed = 1 + marker.size();  // the leading dot and the marker
    if (fixed + extension.size() + 1 > longest) extension.clear();  // an extension as long as a name
    if (fixed + stem.size() + extension.size() > longest) {
        size_t keep = longest - fixed - extension.size();
        // Never cut a UTF-8 character in two.
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
        stem.resize(keep);
    }
    return folder + "." + stem + marker + extension;
}

bool probeOutput(const std::string& path, std::string* error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && errno != ENOENT) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    if (writtenInPlace(path)) {
        // A named pipe with no reader yet is fine: the real open waits for one.
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno != ENXIO) {
            if (error) *error = std::strerror(errno);
            return false;
        }
        if (fd >= 0) close(fd);
        return true;
    }
    const std::string temporary = temporaryPathFor(path);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(temporary.c_str());
    return true;
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

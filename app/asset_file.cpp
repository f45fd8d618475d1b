// Opening asset files so that nothing blocks: the type is checked before the file is
// opened, the file is opened non-blocking and checked again on its descriptor (it may
// have been swapped in between), and the read is bounded by the size limit, not by what
// the file claims.
#include "app/asset_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Why a non-regular file is refused, or null for a regular file.
const char* refusal(mode_t mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return "is a folder";
    if (S_ISFIFO(mode)) return "is not a regular file (a named pipe)";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is not a regular file (a device)";
    if (S_ISSOCK(mode)) return "is not a regular file (a socket)";
    return "is not a regular file";
}

std::string tooLarge(size_t maxBytes, unsigned long long actual) {
    return "larger than " + describeBytes(maxBytes) + " (" + describeBytes(actual) + "); not read";
}

}  // namespace

std::string describeBytes(unsigned long long bytes) {
    char text[48];
    const double kib = 1024.0, mib = kib * 1024.0, gib = mib * 1024.0;
    if (bytes >= gib)
        std::snprintf(text, sizeof text, "%.2f GiB", bytes / gib);
    else if (bytes >= mib && bytes % (1 << 20) == 0)
        std::snprintf(text, sizeof text, "%llu MiB", bytes >> 20);
    else if (bytes >= mib)
        std::snprintf(text, sizeof text, "%.2f MiB", bytes / mib);
    else if (bytes >= kib)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / kib);
    else
        std::snprintf(text, sizeof text, "%llu bytes", bytes);
    return text;
}

unsigned char* readAssetFile(const char* path, size_t maxBytes, size_t& size, std::string& reason) {
    size = 0;
    reason.clear();
    struct stat before {};
    if (stat(path, &before) != 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    if (const char* why = refusal(before.st_mode)) {
        reason = why;
        return nullptr;
    }
    // Non-blocking, so that a pipe or device swapped in after the check cannot hang the open.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        reason = std::strerror(errno);
        close(fd);
        return nullptr;
    }
    const char* why = refusal(st.st_mode);
    if (!why && static_cast<unsigned long long>(st.st_size) > maxBytes) {
        reason = tooLarge(maxBytes, static_cast<unsigned long long>(st.st_size));
        close(fd);
        return nullptr;
    }
    if (why) {
        reason = why;
        close(fd);
        return nullptr;
    }

    // A regular file never blocks; reads go back to blocking for the few network file
    // systems that would otherwise answer "try again".
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    // Room for what fstat saw and one byte more, to notice a file that grew since.
    size_t capacity = static_cast<size_t>(st.st_size) + 1;
    unsigned char* block = new (std::nothrow) unsigned char[capacity + 1];
    if (!block) {
        reason = "out of memory for " + describeBytes(capacity);
        close(fd);
        return nullptr;
    }
    size_t got = 0;
    for (;;) {
        if (got == capacity) {
            // It grew while being read: take more, up to the bound.
            if (capacity > maxBytes) {
                reason = tooLarge(maxBytes, got) + " (it grew while being read)";
                break;
            }
            const size_t larger = capacity * 2 < maxBytes + 1 ? capacity * 2 : maxBytes + 1;
            unsigned char* grown = new (std::nothrow) unsigned char[larger + 1];
            if (!grown) {
                reason = "out of memory for " + describeBytes(larger);
                break;
            }
            std::memcpy(grown, block, got);
            delete[] block;
            block = grown;
            capacity = larger;
        }
        const ssize_t n = read(fd, block + got, capacity - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = std::strerror(errno);
            break;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (!reason.empty()) {
        delete[] block;
        return nullptr;
    }
    block[got] = 0;
    size = got;
    return block;
}

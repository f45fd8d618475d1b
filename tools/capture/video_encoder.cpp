// Runs ffmpeg as a child in its own process group (so that Ctrl-C in the terminal reaches
// the capture only, which then finishes the file) and feeds it through pipes.
#include "tools/capture/video_encoder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext;
}

bool isMp4Like(const std::string& ext) { return ext == ".mp4" || ext == ".m4v" || ext == ".mov"; }

std::string partPathFor(const std::string& path) {
    const std::string ext = extensionOf(path);
    return path.substr(0, path.size() - ext.size()) + ".part" + ext;
}

// Starts argv[0] from PATH with a pipe on its stdin. Returns the child or -1.
pid_t spawnWithPipe(const std::vector<std::string>& args, int& writeFd, std::string* error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (error) *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);  // dup2 clears close-on-exec
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: a terminal's Ctrl-C must not cut the file short.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        if (error) *error = "cannot run " + args[0] + ": " + std::strerror(rc);
        return -1;
    }
    writeFd = fds[1];
    return pid;
}

bool writeAll(int fd, const void* data, size_t size, std::string* error) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = errno == EPIPE ? "ffmpeg stopped reading (its messages are above)"
                                               : std::string("writing to ffmpeg: ") + std::strerror(errno);
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Waits for a child; true when it exited with status 0. Adds its CPU time.
bool waitChild(pid_t pid, double& cpuSeconds, std::string* error) {
    int status = 0;
    struct rusage usage {};
    pid_t r;
    do {
        r = wait4(pid, &status, 0, &usage);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        if (error) *error = std::string("waiting for ffmpeg: ") + std::strerror(errno);
        return false;
    }
    cpuSeconds += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                  usage.ru_stime.tv_usec / 1e6;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (error) {
        char text[96];
        if (WIFEXITED(status))
            std::snprintf(text, sizeof text, "ffmpeg failed with exit status %d (its messages are above)",
                          WEXITSTATUS(status));
        else
            std::snprintf(text, sizeof text, "ffmpeg was ended by signal %d", WTERMSIG(status));
        *error = text;
    }
    return false;
}

}  // namespace

bool findOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    size_t start = 0;
    for (;;) {
        const size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string::npos) return false;
        start = colon + 1;
    }
}

bool startVideo(VideoEncoder& video, const VideoSettings& s, std::string* error) {
    video = VideoEncoder{};
    video.settings = s;
    video.partPath = partPathFor(s.path);
    const std::string ext = extensionOf(s.path);
    std::string codec = s.codec;
    if (codec.empty() && (isMp4Like(ext) || ext == ".mkv")) codec = "libx264";

    char size[32], rate[48];
    std::snprintf(size, sizeof size, "%dx%d", s.width, s.height);
    std::snprintf(rate, sizeof rate, "%lld/%lld", static_cast<long long>(s.fps.num),
                  static_cast<long long>(s.fps.den));
    std::vector<std::string> args = {
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats", "-y",
        "-f", "rawvideo", "-pixel_format", "rgba", "-video_size", size, "-framerate", rate,
        "-i", "pipe:0", "-an",
        // BT.709 limited range, tagged as such, so that players show the colours we drew.
        "-vf", "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
        "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709",
        "-color_range", "tv"};
    if (!codec.empty()) {
        args.insert(args.end(), {"-c:v", codec});
        if (codec == "libx264" || codec == "libx265") {
            args.insert(args.end(), {"-crf", std::to_string(s.crf)});
            if (!s.preset.empty()) args.insert(args.end(), {"-preset", s.preset});
        }
    }
    args.push_back(video.partPath);
    video.pid = spawnWithPipe(args, video.pipeFd, error);
    return video.pid > 0;
}

bool writeVideoFrame(VideoEncoder& video, const uint8_t* rgba, std::string* error) {
    const size_t bytes = static_cast<size_t>(video.settings.width) * video.settings.height * 4;
    if (!writeAll(video.pipeFd, rgba, bytes, error)) return false;
    ++video.framesWritten;
    return true;
}

bool finishVideo(VideoEncoder& video, int64_t audioFirst, int64_t audioCount, AudioSource audio,
                 std::string* error) {
    close(video.pipeFd);
    video.pipeFd = -1;
    const bool pictureDone = waitChild(video.pid, video.encoderCpuSeconds, error);
    video.pid = -1;
    if (!pictureDone) {
        unlink(video.partPath.c_str());
        return false;
    }

    const VideoSettings& s = video.settings;
    const std::string ext = extensionOf(s.path);
    std::vector<std::string> args = {
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats", "-y",
        "-i", video.partPath,
        "-f", "f32le", "-ar", std::to_string(s.audioRate), "-ac", std::to_string(s.audioChannels),
        "-i", "pipe:0",
        "-map", "0:v:0", "-map", "1:a:0", "-c:v", "copy"};
    if (isMp4Like(ext) || ext == ".mkv") args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k"});
    // The edit lists count in the movie timescale, 1000 by default, which would cut the
    // sound to whole milliseconds; 8820000 is a multiple of 44100 and of every common
    // frame duration (24, 25, 30, 50, 60 and 60000/1001 fps), so both tracks end exactly.
    if (isMp4Like(ext)) args.insert(args.end(), {"-movflags", "+faststart", "-movie_timescale", "8820000"});
    args.push_back(s.path);
    int fd = -1;
    const pid_t pid = spawnWithPipe(args, fd, error);
    if (pid < 0) {
        unlink(video.partPath.c_str());
        return false;
    }

    // About a second of sound at a time; the buffer is this tool's, not the frame loop's.
    const int64_t block = s.audioRate;
    std::vector<float> samples(static_cast<size_t>(block) * s.audioChannels);
    bool fed = true;
    for (int64_t done = 0; done < audioCount && fed; done += block) {
        const int64_t n = audioCount - done < block ? audioCount - done : block;
        audio(audioFirst + done, n, samples.data());
        fed = writeAll(fd, samples.data(), static_cast<size_t>(n) * s.audioChannels * sizeof(float), error);
    }
    close(fd);
    std::string waitError;
    const bool muxed = waitChild(pid, video.encoderCpuSeconds, &waitError);
    unlink(video.partPath.c_str());
    if (!muxed && fed && error) *error = waitError;
    return fed && muxed;
}

void abandonVideo(VideoEncoder& video) {
    if (video.pipeFd >= 0) close(video.pipeFd);
    video.pipeFd = -1;
    if (video.pid > 0) {
        double ignored = 0;
        waitChild(video.pid, ignored, nullptr);
    }
    video.pid = -1;
    unlink(video.partPath.c_str());
}

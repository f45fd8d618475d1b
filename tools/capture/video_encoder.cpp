// Runs ffmpeg as a child in its own process group (so that Ctrl-C in the terminal reaches
// the capture only, which then finishes the file) and feeds it through pipes.
#include "tools/capture/video_encoder.h"

#include <fcntl.h>
#include <poll.h>
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

#include "tools/common/output_file.h"

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

// The picture-only file ffmpeg writes first, hidden beside the video and no longer than
// the file system takes.
std::string partPathFor(const std::string& path) { return temporaryPathFor(path, "part"); }

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

// Everything to a pipe. The write blocks while ffmpeg is busy; a signal interrupts it (the
// handlers do not restart calls), and once a stop was requested the pipe turns
// non-blocking and ffmpeg gets VIDEO_STOP_GRACE_MS to take each further piece.
bool writeAll(int fd, const void* data, size_t size, const volatile sig_atomic_t* stop, std::string* error) {
    const char* p = static_cast<const char*>(data);
    bool waitingOnStop = false;
    while (size > 0) {
        if (!waitingOnStop && stop && *stop) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            waitingOnStop = true;
        }
        const ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN && waitingOnStop) {
                pollfd ready{fd, POLLOUT, 0};
                const int r = poll(&ready, 1, VIDEO_STOP_GRACE_MS);
                if (r == 0) {
                    if (error)
                        *error = "ffmpeg stopped reading (it took nothing for " +
                                 std::to_string(VIDEO_STOP_GRACE_MS / 1000) + " s after the stop)";
                    return false;
                }
                continue;
            }
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

// Counts the video packets in `path` with ffprobe: what a player will find, whatever
// ffmpeg's exit status said (it exits 0 even when the file's last write failed).
// -1 when ffprobe cannot tell.
int64_t probeVideoPackets(const std::string& path) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                          "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "ffprobe", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; rc == 0 && (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (rc != 0) return -1;
    double ignored = 0;
    if (!waitChild(pid, ignored, nullptr)) return -1;
    char* end = nullptr;
    const long long packets = std::strtoll(out.c_str(), &end, 10);
    return end != out.c_str() ? packets : -1;
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
    if (!writeAll(video.pipeFd, rgba, bytes, video.settings.stop, error)) return false;
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
    const std::string muxPath = writtenInPlace(s.path) ? s.path : temporaryPathFor(s.path);
    args.push_back(muxPath);
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
        fed = writeAll(fd, samples.data(), static_cast<size_t>(n) * s.audioChannels * sizeof(float), s.stop, error);
    }
    if (!fed) kill(pid, SIGKILL);  // it may have stopped reading; its output is discarded
    close(fd);
    std::string waitError;
    bool muxed = waitChild(pid, video.encoderCpuSeconds, &waitError);
    unlink(video.partPath.c_str());
    if (!muxed && fed && error) *error = waitError;
    if (fed && muxed && !writtenInPlace(muxPath)) {
        const int64_t packets = probeVideoPackets(muxPath);
        if (packets != video.framesWritten) {
            muxed = false;
            if (error)
                *error = packets < 0 ? "ffmpeg's file cannot be read back (its messages are above)"
                                     : "ffmpeg's file holds " + std::to_string(packets) + " of " +
                                           std::to_string(video.framesWritten) +
                                           " frames (its messages are above)";
        }
    }
    if (!fed || !muxed) {
        if (muxPath != s.path) unlink(muxPath.c_str());
        return false;
    }
    return placeOutput(muxPath, s.path, error);
}

void abandonVideo(VideoEncoder& video) {
    if (video.pipeFd >= 0) close(video.pipeFd);
    video.pipeFd = -1;
    if (video.pid > 0) {
        kill(video.pid, SIGKILL);
        double ignored = 0;
        waitChild(video.pid, ignored, nullptr);
    }
    video.pid = -1;
    unlink(video.partPath.c_str());
}

// Decoding of a whole MP3 image, at once or on a thread of its own: libmpg123 reads it
// from memory through our own reader, hands out stereo float frames with encoder delay
// and padding trimmed, and libsoxr brings a track at another rate to 44.1 kHz once.
#include <mpg123.h>
#include <soxr.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>

#include "audio/music_track.h"

namespace {

// The file image as a read-only, seekable stream for libmpg123.
struct MemoryReader {
    const unsigned char* data;
    size_t size;
    size_t position;  // bytes from the start; may pass the end, as with a file
};

mpg123_ssize_t readMemory(void* handle, void* out, size_t count) {
    MemoryReader& reader = *static_cast<MemoryReader*>(handle);
    const size_t left = reader.position < reader.size ? reader.size - reader.position : 0;
    if (count > left) count = left;
    if (count == 0) return 0;
    std::memcpy(out, reader.data + reader.position, count);
    reader.position += count;
    return static_cast<mpg123_ssize_t>(count);
}

off_t seekMemory(void* handle, off_t offset, int whence) {
    MemoryReader& reader = *static_cast<MemoryReader*>(handle);
    off_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<off_t>(reader.position);
    else if (whence == SEEK_END)
        base = static_cast<off_t>(reader.size);
    else if (whence != SEEK_SET)
        return -1;
    const off_t target = base + offset;
    if (target < 0) return -1;
    reader.position = static_cast<size_t>(target);
    return target;
}

// Reservation bounds. The densest MPEG audio frames carry 16 sample frames per byte
// (MPEG-2 Layer II at 8 kbit/s and 16 kHz), so a file cannot hold more than that.
constexpr size_t MAX_FRAMES_PER_BYTE = 16;
constexpr size_t MAX_DECODED_FRAMES = size_t(48000) * MUSIC_MAX_SECONDS;

void setReason(std::string* reason, const std::string& text) {
    if (reason) *reason = text;
}

// Brings interleaved stereo frames from `rate` to MUSIC_RATE in one pass.
bool resample(std::vector<float>& samples, long rate, int channels, std::string* reason) {
    const size_t inFrames = samples.size() / channels;
    const size_t outFrames =
        static_cast<size_t>(static_cast<double>(inFrames) * MUSIC_RATE / rate + 0.5);
    std::vector<float> out(outFrames * channels);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    size_t done = 0;
    const soxr_error_t error =
        soxr_oneshot(static_cast<double>(rate), MUSIC_RATE, channels, samples.data(), inFrames,
                     nullptr, out.data(), outFrames, &done, &io, &quality, nullptr);
    if (error) {
        setReason(reason, std::string("cannot resample from ") + std::to_string(rate) + " Hz: " + error);
        return false;
    }
    out.resize(done * channels);
    samples.swap(out);
    return true;
}

struct DecoderHandle {
    mpg123_handle* handle = nullptr;
    ~DecoderHandle() {
        if (handle) {
            mpg123_close(handle);
            mpg123_delete(handle);
        }
    }
};

// Decodes into `track`. With a background `job`, a track of known length at MUSIC_RATE is
// written in place and published piece by piece; any other comes whole at the end.
bool decodeImage(const unsigned char* data, size_t size, MusicTrack& track, std::string* reason,
                 MusicDecode* job) {
    setReason(reason, "");
    if (!data || size == 0) {
        setReason(reason, "empty file");
        return false;
    }

    // Library set-up is process-wide and not reentrant in older libmpg123.
    static std::once_flag libraryReady;
    static int libraryStatus = MPG123_ERR;
    std::call_once(libraryReady, [] { libraryStatus = mpg123_init(); });
    if (libraryStatus != MPG123_OK) {
        setReason(reason, "cannot start the MP3 decoder");
        return false;
    }

    DecoderHandle decoder;
    int error = MPG123_OK;
    decoder.handle = mpg123_new(nullptr, &error);
    mpg123_handle* mh = decoder.handle;
    if (!mh) {
        setReason(reason, std::string("cannot start the MP3 decoder: ") + mpg123_plain_strerror(error));
        return false;
    }
    // Gapless trims the encoder's delay and padding; quiet, because failures are ours to
    // report; no Frankenstein streams, so the format cannot change halfway and decoding
    // stops where the Info tag says the track ends.
    mpg123_param(mh, MPG123_ADD_FLAGS,
                 MPG123_GAPLESS | MPG123_QUIET | MPG123_FORCE_STEREO | MPG123_NO_FRANKENSTEIN, 0.0);
    // Skip up to 64 KiB of damage between good frames instead of giving up on the rest.
    mpg123_param(mh, MPG123_RESYNC_LIMIT, 65536, 0.0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);

    MemoryReader reader{data, size, 0};
    if (mpg123_replace_reader_handle(mh, readMemory, seekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh, &reader) != MPG123_OK) {
        setReason(reason, std::string("cannot open as MP3: ") + mpg123_strerror(mh));
        return false;
    }

    long rate = 0;
    int channels = 0, encoding = 0;
    std::vector<float> samples;
    // Frames at the file's rate: exact when an encoder's Info tag gives delay and length,
    // otherwise estimated from the file size and only good for reserving memory.
    const off_t expected = mpg123_length(mh);
    long encoderDelay = -1;
    mpg123_getstate(mh, MPG123_ENC_DELAY, &encoderDelay, nullptr);
    const bool exactLength = encoderDelay >= 0 && expected > 0;
    // The length is the file's claim: reserve no more than its bytes can hold, and decode
    // anyway when even that much memory is not to be had.
    const size_t reserveFrames = std::min<size_t>(expected > 0 ? static_cast<size_t>(expected) : 0,
                                                  std::min(size * MAX_FRAMES_PER_BYTE, MAX_DECODED_FRAMES));
    try {
        samples.reserve(reserveFrames * 2);
    } catch (const std::bad_alloc&) {
    }

    unsigned char chunk[1 << 16];  // one piece: 8192 stereo float frames
    std::string damage;
    bool inPlace = false;  // writing into track.samples, sized for the whole track
    size_t written = 0;    // values written in place
    for (;;) {
        if (job && job->cancelled.load(std::memory_order_relaxed)) break;
        size_t got = 0;
        const int status = mpg123_read(mh, chunk, sizeof chunk, &got);
        if (got > 0 && rate > 0) {
            const float* s = reinterpret_cast<const float*>(chunk);
            size_t count = got / sizeof(float);
            if (inPlace) {
                // Never past the known length; the decoder stops there anyway.
                count = std::min(count, track.samples.size() - written);
                std::copy(s, s + count, track.samples.begin() + written);
                written += count;
                // Published from the first second on: a shorter decode may yet turn out
                // to be no music at all, and nobody may see a track that then goes.
                if (written / 2 >= static_cast<size_t>(MUSIC_RATE)) {
                    track.frameCount.store(static_cast<int64_t>(written / 2), std::memory_order_release);
                    if (job->pieceDelayUs > 0)
                        std::this_thread::sleep_for(std::chrono::microseconds(job->pieceDelayUs));
                    while (static_cast<int64_t>(written / 2) >= job->holdAt.load(std::memory_order_relaxed) &&
                           !job->cancelled.load(std::memory_order_relaxed)) {
                        const int64_t resume = job->resumeAtNs.load(std::memory_order_relaxed);
                        if (resume != 0 && musicDecodeClockNs() >= resume) break;
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    }
                }
            } else {
                samples.insert(samples.end(), s, s + count);
                if (samples.size() / 2 >= static_cast<size_t>(rate) * MUSIC_MAX_SECONDS) {
                    samples.resize(static_cast<size_t>(rate) * MUSIC_MAX_SECONDS * 2);
                    damage = "longer than " + std::to_string(MUSIC_MAX_SECONDS / 60) +
                             " minutes; the rest is not decoded";
                    break;
                }
            }
        }
        if (status == MPG123_OK) continue;
        if (status == MPG123_NEW_FORMAT) {
            if (rate > 0) break;  // a second format: keep the first part only
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (channels != 2 || encoding != MPG123_ENC_FLOAT_32) {
                setReason(reason, "the MP3 decoder offers no stereo float output");
                return false;
            }
            // Only a length the file's bytes can hold, within the longest track decoded.
            if (job && exactLength && rate == MUSIC_RATE && static_cast<size_t>(expected) == reserveFrames &&
                expected <= int64_t(MUSIC_RATE) * MUSIC_MAX_SECONDS) {
                // Sized before the first piece is published, never again after: readers
                // may hold on to it. NaN marks what is not decoded yet, so that reading
                // it anywhere would show.
                track.samples.assign(static_cast<size_t>(expected) * 2, std::nanf(""));
                track.channels = 2;
                inPlace = true;
            }
            continue;
        }
        if (status == MPG123_DONE) break;
        // A hard error: keep what decoded before it.
        damage = std::string("damaged data, decoding stopped (") + mpg123_strerror(mh) + ")";
        break;
    }

    // A track is at least a second of MPEG audio, or half of what the file would hold at
    // the bit rate of its frames: other files (a WAV, a picture) can show a few chance
    // frame headers, and a few milliseconds of noise from them is not music.
    const size_t decodedFrames = (inPlace ? written : samples.size()) / 2;
    const double decodedSeconds = rate > 0 ? double(decodedFrames) / rate : 0.0;
    mpg123_frameinfo frame{};
    const int samplesPerFrame = mpg123_spf(mh);
    const bool frameKnown = mpg123_info(mh, &frame) == MPG123_OK && frame.framesize > 0 &&
                            samplesPerFrame > 0 && rate > 0;
    const double fileSeconds =
        frameKnown ? double(size) / frame.framesize * samplesPerFrame / rate : 0.0;
    if (decodedFrames == 0 || (decodedSeconds < 1.0 && decodedSeconds < 0.5 * fileSeconds)) {
        char text[112];
        if (decodedFrames == 0)
            std::snprintf(text, sizeof text, "no MPEG audio found");
        else
            std::snprintf(text, sizeof text, "no MPEG audio found (%.3f s of chance frames in %zu bytes)",
                          decodedSeconds, size);
        setReason(reason, text);
        return false;
    }
    if (damage.empty() && exactLength && decodedFrames < static_cast<size_t>(expected)) {
        // A length the file's bytes could never hold is a false tag, not a cut.
        const bool falseTag = static_cast<size_t>(expected) > size * MAX_FRAMES_PER_BYTE;
        char text[112];
        if (falseTag)
            std::snprintf(text, sizeof text, "its Info tag claims %.0f s, the file holds %.2f s",
                          double(expected) / rate, double(decodedFrames) / rate);
        else
            std::snprintf(text, sizeof text, "damaged or cut short: %.2f of %.2f s decoded",
                          double(decodedFrames) / rate, double(expected) / rate);
        damage = text;
    }
    if (inPlace) {
        track.frameCount.store(static_cast<int64_t>(decodedFrames), std::memory_order_release);
    } else {
        if (rate != MUSIC_RATE && !resample(samples, rate, 2, reason)) return false;
        track.samples.swap(samples);
        track.channels = 2;
        track.frameCount.store(static_cast<int64_t>(track.samples.size() / 2), std::memory_order_release);
    }
    setReason(reason, damage);
    return true;
}

// The body of a background decode's thread. It runs at a lower priority (nice + 10,
// this thread only on Linux): it is far ahead of playback within a fraction of a second
// anyway, and the start-up and frames it shares the processors with must not wait.
void runDecode(MusicDecode* job, const unsigned char* data, size_t size) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::string reason;
    bool ok = false;
    try {
        ok = decodeImage(data, size, job->track, &reason, job);
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    }
    // Only a decode that never published a frame can fail, so nobody reads the track yet.
    if (!ok && job->track.frameCount.load(std::memory_order_relaxed) == 0) job->track = MusicTrack();
    // The line comes before `finished`: whoever sees the decode ended sees it printed.
    std::lock_guard<std::mutex> hold(job->reportLock);
    if (ok && !reason.empty() && !job->reportPath.empty() && !job->cancelled.load(std::memory_order_relaxed))
        std::fprintf(stderr, "velmora: %s: %s; playing what decoded\n", job->reportPath.c_str(), reason.c_str());
    job->ok = ok;
    job->reason = reason;
    job->finished.store(true, std::memory_order_release);
}

}  // namespace

bool decodeMusic(const unsigned char* data, size_t size, MusicTrack& track, std::string* reason) {
    track = MusicTrack();
    try {
        return decodeImage(data, size, track, reason, nullptr);
    } catch (const std::bad_alloc&) {
        track = MusicTrack();
        setReason(reason, "out of memory");
        return false;
    }
}

bool startMusicDecode(const unsigned char* data, size_t size, MusicDecode& decode) {
    stopMusicDecode(decode);
    decode.track = MusicTrack();
    decode.finished = false;
    decode.cancelled = false;
    try {
        decode.thread = std::thread(runDecode, &decode, data, size);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void stopMusicDecode(MusicDecode& decode) {
    if (!decode.thread.joinable()) return;
    decode.cancelled = true;
    decode.thread.join();
}

void waitForMusicFrames(MusicDecode& decode, int64_t frame) {
    if (frame > decode.holdAt.load(std::memory_order_relaxed) && decode.track.frameCount.load() < frame)
        decode.resumeAtNs = 1;  // long past
    while (!decode.finished.load(std::memory_order_acquire) &&
           decode.track.frameCount.load(std::memory_order_acquire) < frame)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

int64_t musicDecodeClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void copyTrackFrames(const MusicTrack& track, int64_t position, int64_t frames, int outChannels,
                     float* out) {
    std::fill(out, out + frames * outChannels, 0.0f);
    const int channels = track.channels;
    const int64_t first = std::max<int64_t>(position, 0);
    const int64_t end = std::min<int64_t>(position + frames, track.frameCount.load(std::memory_order_acquire));
    if (first >= end || channels <= 0) return;
    float* o = out + (first - position) * outChannels;
    const float* s = &track.samples[static_cast<size_t>(first) * channels];
    if (channels == outChannels) {
        std::copy(s, s + (end - first) * channels, o);
        return;
    }
    for (int64_t i = 0; i < end - first; ++i)
        for (int c = 0; c < outChannels; ++c) o[i * outChannels + c] = s[i * channels + std::min(c, channels - 1)];
}

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

// The length in bytes of the MPEG audio frame whose header starts at `p` (at least 4
// bytes), or 0 when they are no frame header. `key` gets the bits that stay the same
// across one stream's frames: version, layer and sampling rate.
size_t frameLengthAt(const unsigned char* p, unsigned* key) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    const int version = (p[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((p[1] >> 1) & 3);  // 1..3; 4: reserved
    const int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    static const int kbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2 and 2.5, layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // 2 and 2.5, II and III
    static const int rates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int table = version == 3 ? layer - 1 : (layer == 1 ? 3 : 4);
    const long bitrate = kbps[table][bitrateIndex] * 1000L, rate = rates[version][rateIndex];
    const int padding = (p[2] >> 1) & 1;
    *key = (unsigned(p[1]) & 0x1E) << 8 | (p[2] & 0x0C);
    if (layer == 1) return static_cast<size_t>((12 * bitrate / rate + padding) * 4);
    return static_cast<size_t>((layer == 3 && version != 3 ? 72 : 144) * bitrate / rate + padding);
}

// The first offset at or after `from` where three frames like the stream's (`key`) follow
// one another, or the file's end is reached by whole frames: where decoding can go on
// after damage. `size` when there is none.
size_t findFrameChain(const unsigned char* data, size_t size, size_t from, unsigned key) {
    for (size_t p = from; p + 4 <= size; ++p) {
        size_t q = p;
        int chained = 0;
        unsigned k = 0;
        while (chained < 3 && q + 4 <= size) {
            const size_t length = frameLengthAt(data + q, &k);
            if (length == 0 || k != key) break;
            q += length;
            ++chained;
        }
        if (chained == 3 || (chained > 0 && q == size)) return p;
    }
    return size;
}

// Reservation bounds. The densest MPEG audio frames carry 16 sample frames per byte
// (MPEG-2 Layer II at 8 kbit/s and 16 kHz), so a file cannot hold more than that.
constexpr size_t MAX_FRAMES_PER_BYTE = 16;
constexpr size_t MAX_DECODED_FRAMES = size_t(48000) * MUSIC_MAX_SECONDS;

// Wakes whoever waits in waitForMusicFrames, after a publication or the end.
void announceProgress(MusicDecode& job) {
    { std::lock_guard<std::mutex> hold(job.progressLock); }
    job.progressed.notify_all();
}

std::string describeSkipped(size_t bytes) {
    char text[32];
    if (bytes < 10240)
        std::snprintf(text, sizeof text, "%zu bytes", bytes);
    else
        std::snprintf(text, sizeof text, "%.0f KiB", bytes / 1024.0);
    return text;
}

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
    // Damage between good frames: the decoder stops at it (a stretch of garbage shows
    // chance frame headers of other formats), and decoding goes on at the next run of
    // frames like the stream's, from a fresh start of the decoder there.
    size_t streamStart = 0;    // bytes: where the decoder's current stream begins
    size_t skippedBytes = 0;   // damaged bytes passed over
    double firstSkipAt = -1;   // s of decoded music where the first damage was skipped
    unsigned streamKey = 0;    // the first frame's version, layer and rate bits
    bool resynced = false;
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
                    announceProgress(*job);
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
            if (rate > 0) {
                long again = 0;
                int againChannels = 0, againEncoding = 0;
                mpg123_getformat(mh, &again, &againChannels, &againEncoding);
                // After a resync the same format comes again; another one ends the track.
                if (resynced && again == rate && againChannels == channels && againEncoding == encoding) continue;
                break;
            }
            mpg123_getformat(mh, &rate, &channels, &encoding);
            const off_t first = mpg123_framepos(mh);
            if (first >= 0 && static_cast<size_t>(first) + 4 <= size) frameLengthAt(data + first, &streamKey);
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
        // The end, damage or a hard error: go on after the damage where frames follow.
        const size_t decodedSoFar = (inPlace ? written : samples.size()) / 2;
        const off_t lastFrame = mpg123_framepos(mh);
        const size_t lastAt = lastFrame >= 0 ? streamStart + static_cast<size_t>(lastFrame) : size;
        unsigned key = 0;
        const size_t lastLength = lastAt + 4 <= size ? frameLengthAt(data + lastAt, &key) : 0;
        // The decoder may stop on a chance header inside the damage, or after a good frame.
        const size_t from = lastLength > 0 && key == streamKey ? lastAt + lastLength : lastAt + 1;
        const bool complete = exactLength && decodedSoFar >= static_cast<size_t>(expected);
        const size_t next =
            streamKey != 0 && !complete && from < size ? findFrameChain(data, size, from, streamKey) : size;
        if (next < size) {
            if (firstSkipAt < 0) firstSkipAt = double(decodedSoFar) / rate;
            skippedBytes += next - from;
            streamStart = next;
            reader = MemoryReader{data + next, size - next, 0};
            mpg123_close(mh);
            if (mpg123_open_handle(mh, &reader) == MPG123_OK) {
                resynced = true;
                continue;
            }
        }
        if (status != MPG123_DONE)  // a hard error: keep what decoded before it
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
    if (resynced && damage.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "%s of damaged data skipped (from %.2f s of the music on)",
                      describeSkipped(skippedBytes).c_str(), firstSkipAt);
        damage = text;
        if (exactLength && decodedFrames < static_cast<size_t>(expected)) {
            std::snprintf(text, sizeof text, "; %.2f of %.2f s decoded", double(decodedFrames) / rate,
                          double(expected) / rate);
            damage += text;
        }
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
        // The stream decoded after damage has no Info tag of its own to trim its padding.
        if (exactLength && samples.size() / 2 > static_cast<size_t>(expected))
            samples.resize(static_cast<size_t>(expected) * 2);
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
    announceProgress(*job);
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
    std::unique_lock<std::mutex> hold(decode.progressLock);
    decode.progressed.wait(hold, [&] {
        return decode.finished.load(std::memory_order_acquire) ||
               decode.track.frameCount.load(std::memory_order_acquire) >= frame;
    });
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

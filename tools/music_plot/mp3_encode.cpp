// libmp3lame encoding and the synthesised beat track.
#include "tools/music_plot/mp3_encode.h"

#include <lame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

bool encodeMp3(const std::vector<float>& samples, int channels, int rate, int kbps,
               std::vector<unsigned char>& mp3, std::string* error, bool infoTag) {
    mp3.clear();
    if (channels != 1 && channels != 2) {
        if (error) *error = "only mono and stereo can be encoded";
        return false;
    }
    lame_global_flags* lame = lame_init();
    if (!lame) {
        if (error) *error = "cannot start the MP3 encoder";
        return false;
    }
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, kbps);
    lame_set_quality(lame, 5);
    lame_set_bWriteVbrTag(lame, infoTag ? 1 : 0);  // room for the Info tag in the first frame
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        if (error) *error = "the MP3 encoder refuses these settings";
        return false;
    }

    const int frames = static_cast<int>(samples.size() / channels);
    constexpr int CHUNK = 8192;  // frames per encoder call
    std::vector<unsigned char> out(static_cast<size_t>(1.25 * CHUNK + 7200));
    std::vector<float> left(CHUNK), right(CHUNK);
    for (int start = 0; start < frames; start += CHUNK) {
        const int n = std::min(CHUNK, frames - start);
        for (int i = 0; i < n; ++i) {
            left[i] = samples[size_t(start + i) * channels];
            right[i] = samples[size_t(start + i) * channels + channels - 1];
        }
        const int bytes = lame_encode_buffer_ieee_float(lame, left.data(), right.data(), n, out.data(),
                                                        static_cast<int>(out.size()));
        if (bytes < 0) {
            lame_close(lame);
            if (error) *error = "the MP3 encoder failed";
            return false;
        }
        mp3.insert(mp3.end(), out.begin(), out.begin() + bytes);
    }
    const int tail = lame_encode_flush(lame, out.data(), static_cast<int>(out.size()));
    if (tail > 0) mp3.insert(mp3.end(), out.begin(), out.begin() + tail);

    // The Info tag (delay, padding, length) goes over the frame reserved at the start.
    unsigned char tag[2880];
    const size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
    if (infoTag && tagSize > 0 && tagSize <= mp3.size()) std::memcpy(mp3.data(), tag, tagSize);
    lame_close(lame);
    return true;
}

std::vector<float> synthBeat(double seconds, int rate, double bpm) {
    const int64_t frames = static_cast<int64_t>(seconds * rate);
    std::vector<float> samples(size_t(frames) * 2);
    const double beat = 60.0 / bpm;  // seconds
    uint32_t noise = 12345;
    for (int64_t f = 0; f < frames; ++f) {
        const double t = double(f) / rate;
        const double sinceBeat = std::fmod(t, beat);
        const double sinceOffBeat = std::fmod(t + beat / 2, beat);
        // Kick: 55 Hz with a short pitch drop, decaying over ~0.15 s.
        const double kick = 0.8 * std::exp(-sinceBeat / 0.08) *
                            std::sin(2 * M_PI * (55.0 * sinceBeat + 40.0 * 0.03 * (1 - std::exp(-sinceBeat / 0.03))));
        noise = noise * 1664525u + 1013904223u;
        const double white = (double(noise >> 8) / double(1 << 24)) * 2 - 1;
        const double snare = 0.25 * std::exp(-sinceOffBeat / 0.05) * white;
        const double pad = 0.05 * std::sin(2 * M_PI * 440 * t) + 0.04 * std::sin(2 * M_PI * 660 * t);
        const float value = static_cast<float>(kick + snare + pad);
        samples[size_t(f) * 2] = value;
        samples[size_t(f) * 2 + 1] = value;
    }
    return samples;
}

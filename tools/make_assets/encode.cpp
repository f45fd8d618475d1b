// MP3 and JPEG writers over libmp3lame and libjpeg.
#include "tools/make_assets/encode.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <lame/lame.h>

#include "tools/common/output_file.h"

namespace assets {

bool writeMp3(const std::string& path, const std::vector<int16_t>& pcm, int kbps,
              std::string& error)
{
    OutputFile output;
    std::string why;
    if (!openOutput(output, path, &why)) {
        error = "cannot create " + path + ": " + why;
        return false;
    }
    FILE* file = output.file;
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_out_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, kbps);
    lame_set_quality(lame, 2);
    // The first frame is reserved for the LAME tag, rewritten once all is encoded;
    // no ID3 tags, so that frame is the first thing in the file.
    lame_set_bWriteVbrTag(lame, 1);
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        discardOutput(output);
        error = "libmp3lame refused the settings";
        return false;
    }
    const int chunkFrames = 8192;
    std::vector<unsigned char> out(chunkFrames * 5 / 4 + 7200);
    bool ok = true;
    size_t frames = pcm.size() / 2;
    for (size_t at = 0; at < frames && ok; at += chunkFrames) {
        int count = (int)std::min<size_t>(chunkFrames, frames - at);
        int bytes = lame_encode_buffer_interleaved(lame, const_cast<short*>(&pcm[at * 2]), count,
                                                   out.data(), (int)out.size());
        ok = bytes >= 0 && std::fwrite(out.data(), 1, bytes, file) == (size_t)bytes;
    }
    if (ok) {
        int bytes = lame_encode_flush(lame, out.data(), (int)out.size());
        ok = bytes >= 0 && std::fwrite(out.data(), 1, bytes, file) == (size_t)bytes;
    }
    if (ok) {
        size_t tagBytes = lame_get_lametag_frame(lame, out.data(), out.size());
        ok = tagBytes > 0 && tagBytes <= out.size() && std::fseek(file, 0, SEEK_SET) == 0 &&
             std::fwrite(out.data(), 1, tagBytes, file) == tagBytes;
    }
    lame_close(lame);
    if (!ok) {
        discardOutput(output);
        error = "cannot encode or write " + path;
        return false;
    }
    if (!commitOutput(output, &why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

namespace {

// libjpeg reports fatal errors through error_exit, which must not return.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr info)
{
    JpegError* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

} // namespace

bool writeJpeg(const std::string& path, const uint8_t* pixels, int width, int height,
               int components, const JpegLayout& layout, std::string& error)
{
    OutputFile output;
    std::string why;
    if (!openOutput(output, path, &why)) {
        error = "cannot create " + path + ": " + why;
        return false;
    }
    FILE* file = output.file;
    jpeg_compress_struct info;
    JpegError jerr;
    info.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = onJpegError;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_compress(&info);
        discardOutput(output);
        error = path + ": " + jerr.message;
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, layout.quality, TRUE);
    if (components == 3) {
        int factor = layout.fullChroma ? 1 : 2;
        info.comp_info[0].h_samp_factor = factor;
        info.comp_info[0].v_samp_factor = factor;
        info.comp_info[1].h_samp_factor = info.comp_info[1].v_samp_factor = 1;
        info.comp_info[2].h_samp_factor = info.comp_info[2].v_samp_factor = 1;
    }
    info.dct_method = JDCT_ISLOW;
    info.optimize_coding = FALSE;
    info.restart_interval = 0;
    info.restart_in_rows = layout.restartPerRow ? 1 : 0;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels + (size_t)info.next_scanline * width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    if (!commitOutput(output, &why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

} // namespace assets

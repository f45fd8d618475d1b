// The texture bank: GL textures loaded once from JPEG files under "textures/", a mask
// file's first channel optionally becoming alpha. Owns `textureBank`, tex...Id and the
// start-up textures' decoding thread with its results.
#include "texture/texture_bank.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "app/asset_file.h"
#include "texture/jpeg_decoder.h"

TextureBank* textureBank = nullptr;
int prefetchReadDelayMs = 0;
int tex1Id, tex2Id, tex3Id, tex5Id, tex6Id, tex7Id, tex8Id, tex9Id, tex10Id, tex11Id;

namespace {

constexpr int PATH_SIZE = 256;  // bytes of a "textures/<name>" path, terminator included

// The one line a failed or damaged load prints; the demo runs on regardless.
void report(const char* path, const char* reason) {
    std::fprintf(stderr, "velmora: %s: %s\n", path, reason);
}

// Last three characters are j, p, g in either case; no dot needed.
bool hasJpegExtension(const char* name) {
    const size_t n = std::strlen(name);
    if (n < 3) return false;
    return (name[n - 3] == 'j' || name[n - 3] == 'J') && (name[n - 2] == 'p' || name[n - 2] == 'P') &&
           (name[n - 1] == 'g' || name[n - 1] == 'G');
}

// "textures/<name>" into `path`; false (after reporting) when it would not fit, since a
// cut-off path would open a different file.
bool formatPath(char (&path)[PATH_SIZE], const char* name) {
    const int n = std::snprintf(path, PATH_SIZE, "textures/%s", name);
    if (n < PATH_SIZE) return true;
    std::fprintf(stderr, "velmora: textures/%s: file name longer than %d characters\n", name,
                 TEXTURE_MAX_NAME_LENGTH);
    return false;
}

// The files of the start-up loads, in the order the loads decode them; tex5.jpg, its own
// mask, is decoded once.
constexpr int PREFETCH_FILES = 13;
const char* const prefetchPaths[PREFETCH_FILES] = {
    "textures/tex1.jpg", "textures/tex2mask.jpg", "textures/tex2.jpg", "textures/tex3.jpg",
    "textures/tex5.jpg", "textures/tex6.jpg", "textures/tex7.jpg", "textures/tex8mask.jpg",
    "textures/tex8.jpg", "textures/tex9mask.jpg", "textures/tex9.jpg", "textures/tex10.jpg",
    "textures/tex11.jpg"};

// What decodeTextureFile left in the decoding thread's jpegDecoder for one file.
struct DecodedPicture {
    bool ok = false;
    bool taken = false;         // handed to a load (the loading thread's only)
    int32_t width = 0, height = 0;  // pixels
    uint8_t* pixels = nullptr;  // malloc'd RGBA; null when not decoded
    std::string failure;        // a copy: the decoder's text may change with its next file
    const char* warning = nullptr;  // a literal
};

// The decoding thread writes picture i, then raises `decoded` past i under the lock; the
// thread that loads the textures reads picture i only after seeing that, asleep on
// `ready` meanwhile (a slow disk can keep it waiting for seconds).
struct TexturePrefetch {
    DecodedPicture pictures[PREFETCH_FILES] = {};
    std::mutex lock;
    std::condition_variable ready;
    int decoded = 0;  // pictures finished, 0..PREFETCH_FILES; under `lock`
    std::thread thread;
    bool started = false;  // the starting and loading threads' only, one after the other

    void waitFor(int i) {
        std::unique_lock<std::mutex> hold(lock);
        ready.wait(hold, [&] { return decoded > i; });
    }
    // Waits for the thread and frees the pixels no load took. The failure texts stay:
    // the loads' jpegDecoder.failure may still point into them.
    void finish() {
        if (thread.joinable()) thread.join();
        for (DecodedPicture& p : pictures) {
            if (!p.taken) std::free(p.pixels);
            p.pixels = nullptr;
        }
        started = false;
    }
    ~TexturePrefetch() { finish(); }
};
TexturePrefetch texturePrefetch;

void decodePrefetchFiles() {
    for (int i = 0; i < PREFETCH_FILES; ++i) {
        if (prefetchReadDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(prefetchReadDelayMs));
        DecodedPicture& p = texturePrefetch.pictures[i];
        p.ok = decodeTextureFile(prefetchPaths[i]);
        p.width = jpegDecoder.width;
        p.height = jpegDecoder.height;
        p.pixels = p.ok ? jpegDecoder.pixels : nullptr;
        p.failure = jpegDecoder.failure ? jpegDecoder.failure : "";
        p.warning = jpegDecoder.warning;
        jpegDecoder.pixels = nullptr;
        {
            std::lock_guard<std::mutex> hold(texturePrefetch.lock);
            texturePrefetch.decoded = i + 1;
        }
        texturePrefetch.ready.notify_all();
    }
}

// Decodes `path` as decodeTextureFile does, or takes its prefetched result into this
// thread's jpegDecoder as decodeTextureFile would have left it.
bool decodeOrTakePrefetched(const char* path) {
    TexturePrefetch& ahead = texturePrefetch;
    for (int i = 0; ahead.started && i < PREFETCH_FILES; ++i) {
        DecodedPicture& p = ahead.pictures[i];
        if (p.taken || std::strcmp(prefetchPaths[i], path) != 0) continue;
        ahead.waitFor(i);
        p.taken = true;
        resetDecoder();
        jpegDecoder.width = p.width;
        jpegDecoder.height = p.height;
        jpegDecoder.pixels = p.pixels;
        jpegDecoder.failure = p.ok ? nullptr : p.failure.c_str();
        jpegDecoder.warning = p.warning;
        return p.ok;
    }
    return decodeTextureFile(path);
}

// Decodes `path`, reporting a failure or a damaged image. Returns true with pixels.
bool decodeReporting(const char* path) {
    const bool ok = decodeOrTakePrefetched(path);
    if (!ok) report(path, jpegDecoder.failure);
    else if (jpegDecoder.warning) report(path, jpegDecoder.warning);
    return ok;
}

// Hands jpegDecoder.pixels to the bound texture with `internalFormat` (3 drops alpha,
// GL_RGBA8 keeps it). Leaves: the image in the bound GL_TEXTURE_2D, every mip level of
// it when `filter` is TEXTURE_MIPMAPPED. False (after reporting) when the GL cannot
// take a level-0 image that large.
bool uploadPixels(const char* path, GLint internalFormat, int filter) {
    const JpegDecoder& d = jpegDecoder;
    if (filter == TEXTURE_MIPMAPPED) {
        gluBuild2DMipmaps(GL_TEXTURE_2D, internalFormat, d.width, d.height, GL_RGBA,
                          GL_UNSIGNED_BYTE, d.pixels);  // scales to what the GL takes
        return true;
    }
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (d.width > maxSize || d.height > maxSize) {
        report(path, "image wider or taller than the GL's largest texture");
        return false;
    }
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, d.width, d.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, d.pixels);
    return true;
}

bool uploadJpeg(const char* path, int filter) {
    if (!decodeReporting(path)) return false;
    const bool uploaded = uploadPixels(path, 3, filter);
    releaseJpegPixels();
    return uploaded;
}

// The mask is decoded whole before the colour file is opened; its first byte per pixel
// (red, or the grey level) becomes the colour image's alpha. A picture that is its own
// mask is read and decoded once, so a fault in it is reported once.
bool uploadJpegWithMask(const char* colourPath, const char* maskPath, int filter) {
    if (std::strcmp(colourPath, maskPath) == 0) {
        if (!decodeReporting(colourPath)) return false;
        const size_t count = static_cast<size_t>(jpegDecoder.width) * jpegDecoder.height;
        for (size_t i = 0; i < count; ++i) jpegDecoder.pixels[i * 4 + 3] = jpegDecoder.pixels[i * 4];
        const bool uploaded = uploadPixels(colourPath, GL_RGBA8, filter);
        releaseJpegPixels();
        return uploaded;
    }
    if (!decodeReporting(maskPath)) return false;
    const int maskWidth = jpegDecoder.width, maskHeight = jpegDecoder.height;
    const size_t count = static_cast<size_t>(maskWidth) * maskHeight;
    uint8_t* maskPlane = static_cast<uint8_t*>(std::malloc(count));
    if (!maskPlane) {
        report(maskPath, "out of memory for the mask");
        releaseJpegPixels();
        return false;
    }
    for (size_t i = 0; i < count; ++i) maskPlane[i] = jpegDecoder.pixels[i * 4];
    releaseJpegPixels();

    bool uploaded = false;
    if (decodeReporting(colourPath)) {
        if (jpegDecoder.width != maskWidth || jpegDecoder.height != maskHeight) {
            std::fprintf(stderr, "velmora: %s: mask is %d x %d pixels, picture %d x %d\n", maskPath,
                         maskWidth, maskHeight, jpegDecoder.width, jpegDecoder.height);
        } else {
            for (size_t i = 0; i < count; ++i) jpegDecoder.pixels[i * 4 + 3] = maskPlane[i];
            uploaded = uploadPixels(colourPath, GL_RGBA8, filter);
        }
        releaseJpegPixels();
    }
    std::free(maskPlane);
    return uploaded;
}

// Both loads: lookup, new entry, decode and upload, filters.
int load(TextureBank& bank, const char* fileName, const char* maskFileName, int filter) {
    // Only names that can load are looked up. They are recorded whole, and any other
    // name's record is longer than they can be, so no two names ever share an entry.
    const bool usable = std::strlen(fileName) <= static_cast<size_t>(TEXTURE_MAX_NAME_LENGTH);
    for (uint32_t i = 0; usable && i < bank.textureCount; ++i)
        if (std::strcmp(bank.fileNames[i], fileName) == 0) return static_cast<int>(i);
    if (bank.textureCount >= static_cast<uint32_t>(MAX_TEXTURES)) {
        std::fprintf(stderr, "velmora: textures/%s: texture bank full (%d entries)\n", fileName,
                     MAX_TEXTURES);
        return -1;
    }
    const uint32_t index = bank.textureCount;
    std::snprintf(bank.fileNames[index], TEXTURE_NAME_SIZE, "%s", fileName);

    char path[PATH_SIZE], maskPath[PATH_SIZE];
    bool pathsFit = formatPath(path, fileName);
    if (pathsFit && maskFileName) pathsFit = formatPath(maskPath, maskFileName);

    // Leaves: the new texture object bound to GL_TEXTURE_2D.
    glGenTextures(1, &bank.glNames[index]);
    glBindTexture(GL_TEXTURE_2D, bank.glNames[index]);
    if (pathsFit) {
        if (!hasJpegExtension(fileName)) report(path, "name does not end in jpg");
        else if (maskFileName) uploadJpegWithMask(path, maskPath, filter);
        else uploadJpeg(path, filter);
    }

    // Leaves: the bound texture's filters set, whether or not it got an image.
    const GLint minFilter = filter == TEXTURE_MIPMAPPED ? GL_LINEAR_MIPMAP_NEAREST : filter;
    const GLint magFilter = filter == TEXTURE_MIPMAPPED ? GL_LINEAR : filter;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
    return static_cast<int>(bank.textureCount++);
}

}  // namespace

bool decodeTextureFile(const char* path) {
    // The file is read whole (bounded, never blocking) and decoded from memory.
    // jpegDecoder.failure points into it until this thread's next call.
    thread_local std::string readFailure;
    size_t size = 0;
    unsigned char* bytes = readAssetFile(path, ASSET_MAX_BYTES, size, readFailure);
    FILE* file = bytes && size > 0 ? fmemopen(bytes, size, "rb") : nullptr;
    if (!file) {
        if (bytes) readFailure = size == 0 ? "empty file" : std::strerror(errno);
        delete[] bytes;
        resetDecoder();
        jpegDecoder.failure = readFailure.c_str();
        return false;
    }
    const bool ok = decodeJpegStream(file);
    std::fclose(file);
    delete[] bytes;
    jpegDecoder.file = nullptr;
    return ok;
}

int TextureBank::loadTexture(const char* fileName, int filter) {
    return load(*this, fileName, nullptr, filter);
}

int TextureBank::loadTextureWithMask(const char* fileName, const char* maskFileName, int filter) {
    return load(*this, fileName, maskFileName, filter);
}

void TextureBank::bindTexture(int index) {
    const bool loaded = index >= 0 && static_cast<uint32_t>(index) < textureCount;
    // Leaves: GL_TEXTURE_2D enabled, the entry's texture (or texture 0) bound.
    if (!glIsEnabled(GL_TEXTURE_2D)) glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, loaded ? glNames[index] : 0);
}

void loadStartupTextures() {
    tex1Id = textureBank->loadTexture("tex1.jpg", GL_LINEAR);
    tex2Id = textureBank->loadTextureWithMask("tex2.jpg", "tex2mask.jpg", GL_LINEAR);
    tex3Id = textureBank->loadTexture("tex3.jpg", GL_LINEAR);
    tex5Id = textureBank->loadTextureWithMask("tex5.jpg", "tex5.jpg", GL_LINEAR);
    tex6Id = textureBank->loadTexture("tex6.jpg", GL_LINEAR);
    tex7Id = textureBank->loadTexture("tex7.jpg", GL_LINEAR);
    tex8Id = textureBank->loadTextureWithMask("tex8.jpg", "tex8mask.jpg", GL_LINEAR);
    tex9Id = textureBank->loadTextureWithMask("tex9.jpg", "tex9mask.jpg", GL_LINEAR);
    tex10Id = textureBank->loadTexture("tex10.jpg", GL_LINEAR);
    tex11Id = textureBank->loadTexture("tex11.jpg", GL_LINEAR);
    texturePrefetch.finish();
}

void prefetchStartupTextures() {
    TexturePrefetch& ahead = texturePrefetch;
    if (ahead.started) return;
    ahead.decoded = 0;
    // Reset here, before the thread starts: the loads test it before they wait.
    for (DecodedPicture& p : ahead.pictures) p.taken = false;
    try {
        ahead.thread = std::thread(decodePrefetchFiles);
        ahead.started = true;
    } catch (const std::system_error&) {
        // No thread: every load decodes its own file.
    }
}

// The texture bank: every GL texture the demo draws with, loaded once at start-up
// from JPEG files under "textures/". Owns `textureBank` and the start-up indices.
#pragma once
#include <cstdint>

constexpr int MAX_TEXTURES = 512;
constexpr int TEXTURE_NAME_SIZE = 255;     // bytes per recorded name, terminator included
constexpr int TEXTURE_MIPMAPPED = 0xBABE;  // filter argument asking for mipmaps
constexpr int TEXTURE_MAX_NAME_LENGTH = 246;  // longest name whose "textures/" path fits 256 bytes

struct TextureBank {
    uint32_t textureCount;                           // entries; index of the next new one
    uint32_t glNames[MAX_TEXTURES];                  // GL texture object of each entry
    char fileNames[MAX_TEXTURES][TEXTURE_NAME_SIZE]; // colour file each entry came from

    // Returns the bank index for "textures/<fileName>"; a name already loaded returns
    // its entry without touching GL. filter: GL_NEAREST, GL_LINEAR or TEXTURE_MIPMAPPED.
    // A file that cannot be used still gets an entry (without an image) and one line on
    // stderr; a full bank returns -1, which bindTexture treats as no texture.
    // Leaves: a new entry's texture bound to GL_TEXTURE_2D.
    int loadTexture(const char* fileName, int filter);
    // As loadTexture, with the first channel of the mask file (same size) as alpha.
    int loadTextureWithMask(const char* fileName, const char* maskFileName, int filter);
    // Binds entry `index` to GL_TEXTURE_2D (texture 0 for an index no load returned).
    // Leaves: GL_TEXTURE_2D enabled.
    void bindTexture(int index);
};

extern TextureBank* textureBank;
extern int tex1Id, tex2Id, tex3Id, tex5Id, tex6Id, tex7Id, tex8Id, tex9Id, tex10Id, tex11Id;

// The ten start-up loads, in their fixed order, into the tex...Id globals.
void loadStartupTextures();

// Starts decoding the files of the ten start-up loads on a thread of its own, in the
// order the loads read them (masks first), so that they can run before the GL context
// exists. A load then takes its file's decoded pixels, waiting for them if need be,
// instead of decoding it, and uploads and reports exactly as it would have; files no
// load asks for are dropped when loadStartupTextures ends. Prints nothing itself.
void prefetchStartupTextures();

// For tests: a pause (ms) before the prefetch reads each file, as on a slow disk.
extern int prefetchReadDelayMs;

// Decodes the JPEG file at `path` as every load does (read whole through readAssetFile:
// a regular file of at most ASSET_MAX_BYTES, never blocking): on success jpegDecoder.pixels
// holds width x height RGBA pixels (alpha 255), to be freed with releaseJpegPixels(),
// and jpegDecoder.warning may say what was wrong; on failure jpegDecoder.failure says
// why. The file is closed either way.
bool decodeTextureFile(const char* path);

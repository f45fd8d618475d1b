// The texture bank: every GL texture the demo draws with, loaded once at start-up
// from JPEG files under "textures/". Owns `textureBank` and the start-up indices.
#pragma once
#include <cstdint>

constexpr int MAX_TEXTURES = 512;
constexpr int TEXTURE_NAME_SIZE = 255;
constexpr int TEXTURE_MIPMAPPED = 0xBABE;  // filter argument asking for mipmaps

struct TextureBank {
    uint32_t textureCount;                           // entries; index of the next new one
    uint32_t glNames[MAX_TEXTURES];                  // GL texture object of each entry
    char fileNames[MAX_TEXTURES][TEXTURE_NAME_SIZE]; // colour file each entry came from

    // Returns the bank index for "textures/<fileName>"; a name already loaded returns its entry.
    int loadTexture(const char* fileName, int filter);
    // As loadTexture, with the mask file's first channel as alpha.
    int loadTextureWithMask(const char* fileName, const char* maskFileName, int filter);
    // Binds entry `index` to GL_TEXTURE_2D. Leaves GL_TEXTURE_2D enabled.
    void bindTexture(int index);
};

extern TextureBank* textureBank;
extern int tex1Id, tex2Id, tex3Id, tex5Id, tex6Id, tex7Id, tex8Id, tex9Id, tex10Id, tex11Id;

// The ten start-up loads, in their fixed order, into the tex...Id globals.
void loadStartupTextures();

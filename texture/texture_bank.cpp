// The texture bank. Decoding lands with the JPEG decoder; until then every entry
// is created without an image.
#include "texture/texture_bank.h"

#include <GL/gl.h>
#include <cstring>

TextureBank* textureBank = nullptr;
int tex1Id, tex2Id, tex3Id, tex5Id, tex6Id, tex7Id, tex8Id, tex9Id, tex10Id, tex11Id;

int TextureBank::loadTexture(const char* fileName, int filter) {
    return loadTextureWithMask(fileName, nullptr, filter);
}

int TextureBank::loadTextureWithMask(const char* fileName, const char*, int filter) {
    for (uint32_t i = 0; i < textureCount; ++i)
        if (std::strcmp(fileNames[i], fileName) == 0) return static_cast<int>(i);
    std::strncpy(fileNames[textureCount], fileName, TEXTURE_NAME_SIZE - 1);
    glGenTextures(1, &glNames[textureCount]);
    glBindTexture(GL_TEXTURE_2D, glNames[textureCount]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    return static_cast<int>(textureCount++);
}

void TextureBank::bindTexture(int index) {
    if (!glIsEnabled(GL_TEXTURE_2D)) glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, glNames[index]);
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
}

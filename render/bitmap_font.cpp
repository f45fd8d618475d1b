// Bitmap captions. The glyph lists land with the font loader; until then no
// text is drawn, but the block and position keep their matrix and state effects.
#include "render/bitmap_font.h"

#include <GL/gl.h>

BitmapFont textFont;

bool BitmapFont::createFont(int) { return false; }

void BitmapFont::beginText(float depth) {
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -depth);
}

void BitmapFont::setTextPosition(float x, float y, float alpha, Color color) {
    glColor4f(color.r, color.g, color.b, alpha);
    glRasterPos2f(x, y);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void BitmapFont::printText(const char*, ...) {}

void BitmapFont::endText() { glPopMatrix(); }

// The 2D bracket, fades and sprites. Owns the global `overlay`.
#include "render/overlay.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "app/display.h"
#include "render/render_state.h"

Overlay overlay;

namespace {
// GL clamps alpha to 0..1, and at 0 both blend functions the overlay uses give back every
// pixel as it was: such a quad is skipped (the plain form draws it anyway).
bool leavesNoMark(float alpha) { return !(alpha > 0.0f) && !plainDrawing; }
}  // namespace

void loadPerspective(float aspect) {
    gluPerspective(static_cast<double>(fieldOfView), static_cast<double>(aspect),
                   static_cast<double>(0.1f), 20000.0);
}

void Overlay::begin2D() {
    // Leaves: the pixel projection, identity modelview as current matrix, the caller's
    // modelview one level down the stack.
    glPushMatrix();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, screenWidth, screenHeight, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void Overlay::end2D() {
    // Leaves: the start-up perspective, the modelview saved by begin2D as current matrix.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadPerspective(static_cast<float>(screenWidth) / static_cast<float>(screenHeight));
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPopMatrix();
}

void Overlay::drawFade(float r, float g, float b, float alpha) {
    // Leaves: blend on (SRC_ALPHA, ONE_MINUS_SRC_ALPHA); depth, cull, lighting, texture off;
    // current colour (r, g, b, alpha).
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor4f(r, g, b, alpha);
    // A whole-screen pass saved every frame once a fade-in is over.
    if (leavesNoMark(alpha)) return;
    glBegin(GL_QUADS);
    glVertex2i(0, 0);
    glVertex2i(screenWidth, 0);
    glVertex2i(screenWidth, screenHeight);
    glVertex2i(0, screenHeight);
    glEnd();
}

void Sprite::drawSprite(float alpha) {
    // Leaves: blend off with (SRC_ALPHA, ONE) for the next user; depth, cull, lighting off;
    // texturing as `textured`; current colour (color.rgb, alpha).
    glEnable(GL_BLEND);
    if (alphaBlend)
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    else
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    if (textured)
        glEnable(GL_TEXTURE_2D);
    else
        glDisable(GL_TEXTURE_2D);

    const float halfW = static_cast<float>(screenWidth / 2);
    const float halfH = static_cast<float>(screenHeight / 2);
    const float cx = (x + 1.0f) * halfW;
    const float cy = (y + 1.0f) * halfH;
    const float hx = halfW * sizeX;
    const float hy = halfH * sizeY;

    glColor4f(color.r, color.g, color.b, alpha);
    // A skipped quad leaves the state as if it had been drawn, down to the current
    // texture coordinate of its last corner.
    if (leavesNoMark(alpha)) {
        glTexCoord2f(0.0f, repeatV);
    } else {
        glPushMatrix();
        glRotatef(angle, 0.0f, 0.0f, 1.0f);
        glBegin(GL_QUADS);
        glTexCoord2f(0.0f, 0.0f);
        glVertex2f(cx - hx, cy - hy);
        glTexCoord2f(repeatU, 0.0f);
        glVertex2f(cx + hx, cy - hy);
        glTexCoord2f(repeatU, repeatV);
        glVertex2f(cx + hx, cy + hy);
        glTexCoord2f(0.0f, repeatV);
        glVertex2f(cx - hx, cy + hy);
        glEnd();
        glPopMatrix();
    }

    glDisable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
}

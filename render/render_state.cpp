// The one light, the material call, sphere mapping and capability switches.
// Owns the global `sceneLight`.
#include "render/render_state.h"

#include <GL/gl.h>

Light sceneLight;
bool plainDrawing = false;

void Light::setLight(Vec3 newPosition, Color newDiffuse, Color newAmbient, int index) {
    diffuse = newDiffuse;
    ambient = newAmbient;
    position = newPosition;
    lightIndex = index;

    // Leaves: GL_LIGHT0 + index enabled with these ambient, diffuse (alpha 1) and
    // position (w = 1, through the current modelview); GL_LIGHTING as it was.
    const GLenum light = GL_LIGHT0 + index;
    const GLfloat ambientRgba[4] = {ambient.r, ambient.g, ambient.b, 1.0f};
    const GLfloat diffuseRgba[4] = {diffuse.r, diffuse.g, diffuse.b, 1.0f};
    const GLfloat positionXyzw[4] = {position.x, position.y, position.z, 1.0f};
    glDisable(light);
    glLightfv(light, GL_AMBIENT, ambientRgba);
    glLightfv(light, GL_DIFFUSE, diffuseRgba);
    glLightfv(light, GL_POSITION, positionXyzw);
    glEnable(light);
}

void setMaterial(float r, float g, float b, float ambientFactor, float diffuseFactor,
                 float specularFactor) {
    // Leaves: the GL_FRONT ambient, diffuse, specular, emission and shininess set.
    const GLfloat ambient[4] = {r * ambientFactor, g * ambientFactor, b * ambientFactor, 1.0f};
    const GLfloat diffuse[4] = {r * diffuseFactor, g * diffuseFactor, b * diffuseFactor, 1.0f};
    const GLfloat specular[4] = {r * specularFactor, g * specularFactor, b * specularFactor, 1.0f};
    const GLfloat emission[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glMaterialfv(GL_FRONT, GL_EMISSION, emission);
    glMaterialf(GL_FRONT, GL_SHININESS, 24.0f);
}

void setSphereMap(bool on) {
    if (on) {
        // Leaves: s and t generation on, both in sphere-map mode.
        glEnable(GL_TEXTURE_GEN_S);
        glEnable(GL_TEXTURE_GEN_T);
        glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
        glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    } else {
        // Leaves: s and t generation off, modes as they were.
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
    }
}

void enable(unsigned int capability) {
    // Leaves: the capability on.
    glEnable(capability);
}

void disable(unsigned int capability) {
    // Leaves: the capability off.
    glDisable(capability);
}

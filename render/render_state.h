// The fixed-function lighting state the 3D scenes share: the one positional light
// (owns the global `sceneLight`), the front-face material, sphere-mapped texture
// coordinates and two capability switches.
#pragma once
#include "geometry/vec3.h"
#include "render/color.h"

struct Light {
    Color diffuse{0.0f, 0.0f, 0.0f, 0.0f};  // 0..1; alpha kept here but never sent
    Color ambient{0.0f, 0.0f, 0.0f, 0.0f};  // 0..1; alpha kept here but never sent
    Vec3 position{0.0f, 0.0f, 0.0f};        // positional (w = 1), in the coordinates of
                                            // the modelview current when it is sent
    int lightIndex = 0;                     // GL_LIGHT0 + lightIndex, 0..7

    // Stores all four, then sends them to GL_LIGHT0 + index with alphas of 1. The
    // position is transformed by the modelview current now: before the camera is applied
    // the light moves with the eye, after it the light stays put in the world.
    // Leaves: that light re-enabled with the new ambient, diffuse and position (its
    // specular untouched); GL_LIGHTING as it was; no other light touched.
    void setLight(Vec3 newPosition, Color newDiffuse, Color newAmbient, int index);
};

extern Light sceneLight;  // the one light every lit scene re-sends each frame

// One base colour (r, g, b) times three factors (unclamped, may exceed 1) for the
// front-face ambient, diffuse and specular reflectance, black emission, shininess 24.
// Leaves: the GL_FRONT material set; the back-face material untouched.
void setMaterial(float r, float g, float b, float ambientFactor, float diffuseFactor,
                 float specularFactor);

// on: GL makes s and t from eye-space normals (sphere map), ignoring the mesh's own
// texture coordinates. Leaves: GL_TEXTURE_GEN_S and _T on, both in GL_SPHERE_MAP mode.
// off: Leaves both generation switches off, their modes untouched.
void setSphereMap(bool on);

// glEnable / glDisable of one capability (a GL enum). Leave: that capability on / off.
void enable(unsigned int capability);
void disable(unsigned int capability);

// The drawing operations that reach their pixels a faster way (line overlays and solids
// from client arrays left enabled, fully transparent quads skipped, captions as direct
// bitmaps) take their plain form instead while this is true: immediate-mode overlays in
// a full attribute push, arrays disabled after every solid, every quad drawn, captions
// through the glyph lists. Off in the demo; tests render frames both ways and compare.
extern bool plainDrawing;

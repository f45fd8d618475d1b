// A look-at camera. Each scene owns one as a global, fills it once at set-up and
// applies it every frame; the fields are public so render steps can move single
// components before applying.
#pragma once
#include "geometry/vec3.h"

struct Camera {
    Vec3 eye{0.0f, 0.0f, 0.0f};      // eye point, world units
    Vec3 center{0.0f, 0.0f, -1.0f};  // point looked at
    Vec3 up{0.0f, 1.0f, 0.0f};       // up direction, need not be unit length

    void setCamera(Vec3 newEye, Vec3 newCenter, Vec3 newUp);
    // Multiplies the look-at transform onto the current matrix; selects no matrix mode
    // and loads no identity, so the caller resets the modelview first.
    void applyCamera() const;
};

// The look-at camera.
#include "render/camera.h"

#include <GL/gl.h>
#include <GL/glu.h>

void Camera::setCamera(Vec3 newEye, Vec3 newCenter, Vec3 newUp) {
    eye = newEye;
    center = newCenter;
    up = newUp;
}

void Camera::applyCamera() const {
    // Leaves: the current matrix multiplied by the look-at transform; nothing else.
    gluLookAt(eye.x, eye.y, eye.z, center.x, center.y, center.z, up.x, up.y, up.z);
}

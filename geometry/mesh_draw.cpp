// The two ways a mesh is drawn, both from its client arrays: solid, and the line
// overlay (with its immediate-mode form, the reference the tests hold it to). The only
// part of geometry/ that talks to GL.
#include <GL/gl.h>

#include <type_traits>

#include "geometry/mesh.h"
#include "render/render_state.h"

static_assert(std::is_same<GLuint, uint32_t>::value, "indices go to GL as GL_UNSIGNED_INT");

namespace {
// Leaves: the vertex, normal and texture-coordinate arrays enabled, in that order,
// pointing at the mesh's packed arrays. Enabling what is already on costs nothing.
void enableArraysOf(const Mesh& mesh) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, mesh.positions.data());
    glNormalPointer(GL_FLOAT, 0, mesh.normals.data());
    glTexCoordPointer(2, GL_FLOAT, 0, mesh.texCoords.data());
}
}  // namespace

void Mesh::drawSolid() const {
    if (!isComplete()) return;
    // Leaves: the three client arrays enabled and pointing at this mesh's arrays (the
    // plain form disables them again); colour, material, lighting, texture, blend, cull
    // and depth as the caller set. Nothing else draws from client arrays, and switching
    // them on and off around every draw costs software GL more than the draw itself.
    enableArraysOf(*this);
    glDrawElements(GL_TRIANGLES, 3 * triangleCount, GL_UNSIGNED_INT, indices.data());
    if (plainDrawing) {
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
}

void Mesh::drawLines() const {
    if (plainDrawing) {
        drawLinesImmediate();
        return;
    }
    if (!isComplete()) return;
    // The overlay as one indexed GL_LINES draw from the mesh's own arrays: the same
    // corner stream, paired 0-1, 2-3, ..., as drawLinesImmediate sends vertex by vertex,
    // and the same pixels, without the per-vertex calls and the full attribute push and
    // pop that cost software GL most of a frame.
    // Leaves: depth test as it found it; the client arrays as drawSolid leaves them;
    // current colour, normal and texture coordinate untouched.
    const GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    glDisable(GL_DEPTH_TEST);
    enableArraysOf(*this);
    glDrawElements(GL_LINES, 3 * triangleCount, GL_UNSIGNED_INT, indices.data());
    if (depthTest) glEnable(GL_DEPTH_TEST);
}

void Mesh::drawLinesImmediate() const {
    if (!isComplete()) return;
    // Leaves: every attribute as it was (pushed and popped), the current colour, normal
    // and texture coordinate included. Depth test is off only inside the bracket.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_DEPTH_TEST);
    // One stream of all corners: GL pairs entries 0-1, 2-3, ... into segments, so what
    // the overlay shows follows the generators' index order, not the triangle edges.
    glBegin(GL_LINES);
    const int corners = 3 * triangleCount;
    for (int k = 0; k < corners; ++k) {
        const uint32_t v = indices[k];
        glTexCoord2fv(&texCoords[v].s);
        glNormal3fv(&normals[v].x);
        glVertex3fv(&positions[v].x);
    }
    glEnd();
    glPopAttrib();
}

// The indexed triangle mesh: packed vertex arrays, smooth normals, in-place deformation
// with a saved copy, and the box, tube and torus generators that fill it at start-up.
#pragma once
#include <cstdint>
#include <vector>

#include "geometry/vec3.h"

// One vertex's texture coordinates.
struct TexCoord {
    float s, t;
};
static_assert(sizeof(TexCoord) == 2 * sizeof(float), "texture coordinates go to GL packed");

// Every mesh is a global that a generator fills once at start-up and computeNormals then
// completes. The arrays are allocated only by those two calls, so drawing, deforming and
// restoring never allocate. The vectors' data is handed to GL unchanged as client arrays.
struct Mesh {
    int vertexCount = 0;
    std::vector<Vec3> positions;       // vertexCount; current positions, what is drawn
    std::vector<Vec3> normals;         // vertexCount; unit normals, made by computeNormals
    std::vector<Vec3> savedPositions;  // vertexCount; backup for save/restorePositions
    std::vector<uint32_t> indices;     // 3 * triangleCount; corners of triangle t at 3t..3t+2
    std::vector<TexCoord> texCoords;   // vertexCount
    int triangleCount = 0;

    // Axis-aligned box from -half to +half on each axis: 8 shared corners, 12 triangles.
    void buildBox(float halfX, float halfY, float halfZ);
    // Open cylinder along y, centred on the origin, no caps and no duplicated seam column:
    // segments * (rings + 1) vertices, 2 * segments * rings triangles. Counts below 1 give
    // an empty mesh.
    void buildTube(int segments, int rings, float radius, float length);
    // Torus round the y axis, centre circle of radius majorRadius in the x-z plane:
    // (segments + 1) * (rings + 1) vertices, 2 * segments * rings triangles. Counts below
    // 1 give an empty mesh.
    void buildTorus(int segments, int rings, float majorRadius, float minorRadius);

    // Allocates normals and savedPositions and sums each triangle's face vector
    // cross(p0 - p2, p2 - p1) into its corners, then normalises. The generators wind
    // counter-clockwise seen from outside, so these normals point into the solid. A
    // vertex no triangle touches keeps the normal (0, 0, 0).
    void computeNormals();
    // Negates every normal and swaps each triangle's last two corners. Its own inverse.
    void invertMesh();
    void savePositions();     // positions -> savedPositions
    void restorePositions();  // savedPositions -> positions

    // Moves each vertex along `direction` by amplitude * sin((phase + frequency * y) /
    // 6.28318), y being the vertex's height before this call. Normals stay as they were.
    void waveDeform(Vec3 direction, float amplitude, float phase, float frequency);

    // All triangles from the client arrays in one indexed draw, under the caller's colour,
    // material, lighting, texture, blending, culling and depth state.
    // Leaves: vertex, normal and texture-coordinate arrays enabled with their pointers at
    // this mesh's arrays (disabled under plainDrawing); nothing else changed.
    void drawSolid() const;
    // The line overlay: every triangle's corners in order as one GL_LINES stream, so the
    // segments pair stream entries 0-1, 2-3, ... rather than following triangle edges.
    // Depth test off while drawing, so the lines show through the solid.
    // Leaves: the client arrays as drawSolid does; all other state as it found it.
    void drawLines() const;
    // The same overlay in immediate mode, vertex by vertex inside a full attribute push
    // and pop: the plain form drawLines must match pixel for pixel (tests compare them).
    void drawLinesImmediate() const;

    // True once generated and completed with consistent array sizes. The operations that
    // need normals or the saved copy do nothing on a mesh that is not.
    bool isComplete() const;
};

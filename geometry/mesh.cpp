// Mesh generation, normals and deformation: plain single-precision maths, no GL.
#include "geometry/mesh.h"

#include <algorithm>
#include <limits>

namespace {

// Angular step numerator of the tube and torus, deliberately a little short of 2*pi.
constexpr float FULL_TURN = 6.283184f;

// True when a grid of quads with these counts can be built: both at least 1, and the
// index count (6 per quad) and vertex count still fit the signed 32-bit counts GL takes.
bool usableGrid(int segments, int rings, int64_t vertices) {
    if (segments < 1 || rings < 1) return false;
    const int64_t indexCount = int64_t{6} * segments * rings;
    return indexCount <= std::numeric_limits<int>::max() &&
           vertices <= std::numeric_limits<int>::max();
}

// Resets the mesh to the generated state with the given counts; the arrays are sized,
// and any normals or saved copy from an earlier completion are dropped.
void allocateGenerated(Mesh& mesh, int vertexCount, int triangleCount) {
    mesh.vertexCount = vertexCount;
    mesh.triangleCount = triangleCount;
    mesh.positions.assign(vertexCount, Vec3(0.0f, 0.0f, 0.0f));
    mesh.texCoords.assign(vertexCount, TexCoord{0.0f, 0.0f});
    mesh.indices.assign(static_cast<size_t>(triangleCount) * 3, 0u);
    mesh.normals.clear();
    mesh.savedPositions.clear();
}

// Appends one triangle's corners, in the order given.
void emitTriangle(uint32_t*& out, uint32_t i0, uint32_t i1, uint32_t i2) {
    out[0] = i0;
    out[1] = i1;
    out[2] = i2;
    out += 3;
}

}  // namespace

void Mesh::buildBox(float halfX, float halfY, float halfZ) {
    allocateGenerated(*this, 8, 12);
    const Vec3 corners[8] = {
        {-halfX, halfY, halfZ},  {halfX, halfY, halfZ},   {halfX, -halfY, halfZ},
        {-halfX, -halfY, halfZ}, {halfX, halfY, -halfZ},  {-halfX, halfY, -halfZ},
        {-halfX, -halfY, -halfZ}, {halfX, -halfY, -halfZ},
    };
    const TexCoord cornerTex[8] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
    // Two triangles per face, counter-clockwise seen from outside: +z, +x, -z, -x, +y, -y.
    const uint32_t faces[36] = {
        3, 1, 0, 3, 2, 1,  //
        2, 4, 1, 2, 7, 4,  //
        7, 5, 4, 7, 6, 5,  //
        5, 6, 0, 6, 3, 0,  //
        0, 4, 5, 1, 4, 0,  //
        2, 6, 7, 6, 2, 3,
    };
    std::copy(corners, corners + 8, positions.begin());
    std::copy(cornerTex, cornerTex + 8, texCoords.begin());
    std::copy(faces, faces + 36, indices.begin());
}

void Mesh::buildTube(int segments, int rings, float radius, float length) {
    const int64_t vertices = int64_t{segments} * (int64_t{rings} + 1);
    if (!usableGrid(segments, rings, vertices)) {
        allocateGenerated(*this, 0, 0);
        return;
    }
    const int S = segments, R = rings;
    allocateGenerated(*this, static_cast<int>(vertices), 2 * S * R);

    const float step = FULL_TURN / static_cast<float>(S);  // radians per column
    const float ringSpacing = length / static_cast<float>(R);
    const float halfLength = length / 2.0f;
    for (int i = 0; i <= R; ++i) {
        const float y = ringSpacing * static_cast<float>(i) - halfLength;
        const float t = static_cast<float>(i) / static_cast<float>(R);
        for (int j = 0; j < S; ++j) {
            const float theta = static_cast<float>(j) * step;
            positions[i * S + j] = Vec3(-radius * cosf32(theta), y, radius * sinf32(theta));
            // s follows a half sine over whole degrees (integer division), so the texture
            // is mirrored round the tube with no jump where the last column meets the first.
            const int degrees = (180 * j) / S;
            texCoords[i * S + j] = TexCoord{sinf32(static_cast<float>(degrees * 3.14159 / 180.0)), t};
        }
    }

    // Per quad (a, b, c), (c, b, d): the overlay draws a-b, c-c and b-d.
    uint32_t* out = indices.data();
    for (int i = 0; i < R; ++i) {
        for (int j = 0; j < S; ++j) {
            const uint32_t a = i * S + j;
            const uint32_t b = i * S + (j + 1) % S;
            const uint32_t c = a + S;
            const uint32_t d = b + S;
            emitTriangle(out, a, b, c);
            emitTriangle(out, c, b, d);
        }
    }
}

void Mesh::buildTorus(int segments, int rings, float majorRadius, float minorRadius) {
    const int64_t vertices = (int64_t{segments} + 1) * (int64_t{rings} + 1);
    if (!usableGrid(segments, rings, vertices)) {
        allocateGenerated(*this, 0, 0);
        return;
    }
    const int S = segments, R = rings;
    allocateGenerated(*this, static_cast<int>(vertices), 2 * S * R);

    const float ringStep = FULL_TURN / static_cast<float>(R);     // radians round the centre circle
    const float columnStep = FULL_TURN / static_cast<float>(S);   // radians round the tube
    for (int i = 0; i <= R; ++i) {
        const float phi = static_cast<float>(i) * ringStep;
        const float cosPhi = cosf32(phi), sinPhi = sinf32(phi);
        const float centreX = majorRadius * cosPhi;
        const float centreZ = majorRadius * sinPhi;
        const float t = static_cast<float>(i) / static_cast<float>(R) * 5.0f;  // 5 repeats
        for (int j = 0; j <= S; ++j) {
            const float theta = static_cast<float>(j) * columnStep;
            const float sinTheta = sinf32(theta);
            // theta = 0 is the top of the tube, theta = pi/2 the outer equator.
            positions[i * (S + 1) + j] = Vec3(cosPhi * sinTheta * minorRadius + centreX,
                                              cosf32(theta) * minorRadius,
                                              sinPhi * sinTheta * minorRadius + centreZ);
            texCoords[i * (S + 1) + j] = TexCoord{sinTheta, t};
        }
    }

    // Per quad (c, b, a), (d, b, c): the overlay draws c-b, a-d and b-c, an X per quad.
    uint32_t* out = indices.data();
    for (int i = 0; i < R; ++i) {
        for (int j = 0; j < S; ++j) {
            const uint32_t a = i * (S + 1) + j;
            const uint32_t b = a + 1;
            const uint32_t c = a + S + 1;
            const uint32_t d = c + 1;
            emitTriangle(out, c, b, a);
            emitTriangle(out, d, b, c);
        }
    }
}

void Mesh::computeNormals() {
    // Only a generated mesh has arrays that match its counts.
    if (vertexCount < 0 || triangleCount < 0 || positions.size() != static_cast<size_t>(vertexCount) ||
        indices.size() != static_cast<size_t>(triangleCount) * 3)
        return;
    normals.assign(vertexCount, Vec3(0.0f, 0.0f, 0.0f));
    savedPositions.resize(vertexCount);
    for (int t = 0; t < triangleCount; ++t) {
        const uint32_t i0 = indices[3 * t], i1 = indices[3 * t + 1], i2 = indices[3 * t + 2];
        const Vec3 p0 = positions[i0], p1 = positions[i1], p2 = positions[i2];
        // Twice the triangle's area long, so bigger triangles weigh more. Points to the
        // side from which p0, p1, p2 run clockwise.
        const Vec3 face = cross(p0 - p2, p2 - p1);
        normals[i0] += face;
        normals[i1] += face;
        normals[i2] += face;
    }
    for (Vec3& n : normals) n.normalize();
}

bool Mesh::isComplete() const {
    const size_t v = static_cast<size_t>(std::max(vertexCount, 0));
    return vertexCount >= 0 && triangleCount >= 0 && positions.size() == v &&
           normals.size() == v && savedPositions.size() == v && texCoords.size() == v &&
           indices.size() == static_cast<size_t>(triangleCount) * 3;
}

void Mesh::invertMesh() {
    if (!isComplete()) return;
    for (Vec3& n : normals) n = Vec3(-n.x, -n.y, -n.z);
    for (int t = 0; t < triangleCount; ++t) std::swap(indices[3 * t + 1], indices[3 * t + 2]);
}

void Mesh::savePositions() {
    if (!isComplete()) return;
    std::copy(positions.begin(), positions.end(), savedPositions.begin());
}

void Mesh::restorePositions() {
    if (!isComplete()) return;
    std::copy(savedPositions.begin(), savedPositions.end(), positions.begin());
}

void Mesh::waveDeform(Vec3 direction, float amplitude, float phase, float frequency) {
    for (Vec3& p : positions) {
        // The divisor is the double 6.28318; the quotient is rounded to float before the sine.
        const float angle = static_cast<float>(static_cast<double>(phase + frequency * p.y) / 6.28318);
        const float w = amplitude * sinf32(angle);
        p.x += direction.x * w;
        p.y += direction.y * w;
        p.z += direction.z * w;
    }
}

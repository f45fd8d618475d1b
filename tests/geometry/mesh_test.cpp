// Vector maths, normals, inversion, deformation and the save/restore pair.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "geometry/mesh.h"

namespace {

bool sameBits(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vec3)) == 0;
}

// A generated mesh filled by hand: one triangle, and vertex 3 that no triangle uses.
Mesh oneTriangle() {
    Mesh m;
    m.vertexCount = 4;
    m.triangleCount = 1;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}};
    m.texCoords.assign(4, TexCoord{0, 0});
    m.indices = {0, 1, 2};
    return m;
}

TEST(MeshTest, FaceRuleAndZeroNormals) {
    Mesh m = oneTriangle();
    m.computeNormals();
    ASSERT_TRUE(m.isComplete());
    for (int v = 0; v < 3; ++v) EXPECT_EQ(m.normals[v].z, -1.0f) << v;
    EXPECT_EQ(m.normals[0].x, 0.0f);
    // The unused vertex keeps (0, 0, 0), not NaN; so does a vector whose square underflows.
    EXPECT_EQ(m.normals[3].x, 0.0f);
    EXPECT_EQ(m.normals[3].z, 0.0f);
    Vec3 tiny(1e-30f, 0, 0);
    tiny.normalize();
    EXPECT_FALSE(std::isnan(tiny.x));
}

TEST(MeshTest, InvertTwiceGivesTheMeshBackBitForBit) {
    Mesh m;
    m.buildTorus(16, 12, 3.0f, 1.0f);
    m.computeNormals();
    const Mesh before = m;
    m.invertMesh();
    EXPECT_EQ(m.normals[7].y, -before.normals[7].y);
    EXPECT_EQ(m.indices[4], before.indices[5]);
    m.invertMesh();
    EXPECT_TRUE(sameBits(m.normals, before.normals));
    EXPECT_EQ(m.indices, before.indices);

    // Before computeNormals there is nothing to invert or save into: no-ops, no crash.
    m.buildBox(1, 1, 1);
    const std::vector<uint32_t> boxIndices = m.indices;
    m.invertMesh();
    m.savePositions();
    m.restorePositions();
    EXPECT_EQ(m.indices, boxIndices);
}

TEST(MeshTest, WaveDeformWorkedExamples) {
    Mesh m = oneTriangle();
    m.positions = {{0, 0, 0}, {0, 6.28318f, 0}, {0.5f, 2, 0}, {3, 3, 3}};
    m.computeNormals();
    const Mesh before = m;
    m.waveDeform(Vec3(1, 0, 0), 0.0f, 0.3f, 1.0f);  // amplitude 0: nothing moves
    EXPECT_TRUE(sameBits(m.positions, before.positions));
    m.waveDeform(Vec3(1, 0, 0), 1.0f, 0.0f, 1.0f);
    EXPECT_EQ(m.positions[0].x, 0.0f);              // y = 0, phase 0
    EXPECT_NEAR(m.positions[1].x, 0.8415f, 1e-4f);  // sin(6.28318 / 6.28318) = sin 1
    EXPECT_EQ(m.positions[1].y, 6.28318f);
    // Along (1, 1, 1) all three move alike, driven by the y from before the move.
    m.positions[3] = Vec3(3, 3, 3);
    m.waveDeform(Vec3(1, 1, 1), 2.0f, 0.0f, 1.0f);
    EXPECT_EQ(m.positions[3].x, m.positions[3].y);
    EXPECT_EQ(m.positions[3].z, m.positions[3].y);
    EXPECT_NEAR(m.positions[3].x, 3.0f + 2.0f * std::sin(3.0 / 6.28318), 1e-5);
    EXPECT_TRUE(sameBits(m.normals, before.normals));
}

TEST(MeshTest, SaveDeformRestoreIsBitExact) {
    Mesh m;
    m.buildTube(32, 32, 3.0f, 10.0f);
    m.computeNormals();
    const std::vector<Vec3> generated = m.positions;
    for (int frame = 0; frame < 3; ++frame) {
        m.savePositions();
        m.waveDeform(Vec3(1, 0, 0), 0.7f, 1.3f * frame, 2.0f);
        m.waveDeform(Vec3(0, 0, 1), 0.7f, 0.9f * frame, 2.0f);
        m.positions[5].y += 1.0f;  // a scene's own write
        m.restorePositions();
        ASSERT_TRUE(sameBits(m.positions, generated)) << frame;
    }
}

}  // namespace

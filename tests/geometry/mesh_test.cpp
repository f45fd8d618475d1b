// Vector maths, normals, inversion, deformation and the save/restore pair.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "geometry/mesh.h"

namespace {

bool sameBits(const void* a, const void* b, size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

// A generated mesh filled by hand: one triangle, plus vertex 3 that no triangle uses.
Mesh oneTriangle() {
    Mesh m;
    m.vertexCount = 4;
    m.triangleCount = 1;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}};
    m.texCoords.assign(4, TexCoord{0, 0});
    m.indices = {0, 1, 2};
    return m;
}

TEST(Vec3Test, ArithmeticAndNormalize) {
    Vec3 a(1, 2, 3);
    const Vec3 sum = (a += Vec3(1, 1, 1));
    EXPECT_EQ(sum.z, 4.0f);
    EXPECT_EQ(a.z, 4.0f);
    const Vec3 c = cross(Vec3(1, 0, 0), Vec3(0, 1, 0));
    EXPECT_EQ(c.z, 1.0f);
    EXPECT_EQ((Vec3(3, 4, 0) - Vec3(0, 0, 12)).length(), 13.0f);
    Vec3 zero(0, 0, 0);
    zero.normalize();
    EXPECT_EQ(zero.x, 0.0f);  // not NaN
    Vec3 tiny(1e-30f, 0, 0);  // its square underflows to 0
    tiny.normalize();
    EXPECT_FALSE(std::isnan(tiny.x));
    EXPECT_EQ(sinf32(0.5f), static_cast<float>(std::sin(0.5)));
}

TEST(NormalsTest, OneTriangleFacesMinusZAndAnUnusedVertexStaysZero) {
    Mesh m = oneTriangle();
    m.computeNormals();
    ASSERT_TRUE(m.isComplete());
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(m.normals[v].x, 0.0f);
        EXPECT_EQ(m.normals[v].y, 0.0f);
        EXPECT_EQ(m.normals[v].z, -1.0f);
    }
    EXPECT_EQ(m.normals[3].x, 0.0f);
    EXPECT_EQ(m.normals[3].y, 0.0f);
    EXPECT_EQ(m.normals[3].z, 0.0f);
}

TEST(NormalsTest, InvertTwiceGivesTheMeshBackBitForBit) {
    Mesh m;
    m.buildTorus(16, 12, 3.0f, 1.0f);
    m.computeNormals();
    const Mesh before = m;
    m.invertMesh();
    EXPECT_EQ(m.normals[7].x, -before.normals[7].x);
    EXPECT_EQ(m.indices[1], before.indices[2]);
    EXPECT_EQ(m.indices[2], before.indices[1]);
    m.invertMesh();
    EXPECT_TRUE(sameBits(m.normals.data(), before.normals.data(), m.normals.size() * sizeof(Vec3)));
    EXPECT_EQ(m.indices, before.indices);
}

TEST(NormalsTest, OperationsOnAnIncompleteMeshDoNothing) {
    Mesh m;
    m.buildBox(1, 1, 1);  // generated, no normals or saved copy yet
    const std::vector<uint32_t> indices = m.indices;
    m.invertMesh();
    m.savePositions();
    m.restorePositions();
    EXPECT_EQ(m.indices, indices);
    EXPECT_TRUE(m.normals.empty() && m.savedPositions.empty());
}

TEST(WaveDeformTest, WorkedExamples) {
    Mesh m = oneTriangle();
    m.positions = {{0, 0, 0}, {0, 6.28318f, 0}, {0.5f, 2, 0}, {3, 3, 3}};
    m.computeNormals();
    const Mesh before = m;

    m.waveDeform(Vec3(1, 0, 0), 0.0f, 0.3f, 1.0f);  // amplitude 0: nothing moves
    EXPECT_TRUE(sameBits(m.positions.data(), before.positions.data(), 4 * sizeof(Vec3)));

    m.waveDeform(Vec3(1, 0, 0), 1.0f, 0.0f, 1.0f);
    EXPECT_EQ(m.positions[0].x, 0.0f);                   // y = 0, phase 0: sin 0
    EXPECT_NEAR(m.positions[1].x, 0.8415f, 1e-4f);       // sin(6.28318 / 6.28318) = sin 1
    EXPECT_EQ(m.positions[1].y, 6.28318f);               // only along the direction
    // Along (1, 1, 1) all three move by the same amount, driven by the y before the move.
    m.positions[3] = Vec3(3, 3, 3);
    m.waveDeform(Vec3(1, 1, 1), 2.0f, 0.0f, 1.0f);
    EXPECT_EQ(m.positions[3].x, m.positions[3].y);
    EXPECT_EQ(m.positions[3].y, m.positions[3].z);
    EXPECT_NEAR(m.positions[3].x, 3.0f + 2.0f * std::sin(3.0 / 6.28318), 1e-5);
    EXPECT_TRUE(sameBits(m.normals.data(), before.normals.data(), 4 * sizeof(Vec3)));
}

TEST(WaveDeformTest, SaveDeformRestoreIsBitExact) {
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
        ASSERT_TRUE(sameBits(m.positions.data(), generated.data(), generated.size() * sizeof(Vec3)));
    }
}

}  // namespace

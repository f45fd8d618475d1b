// The box, tube and torus generators: counts, vertex order, texture coordinates, index
// order (which sets the overlay's segments), and normals pointing into the solid.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "geometry/mesh.h"

namespace {

constexpr double DEG = 3.14159265358979 / 180.0;

void expectVec(const Vec3& v, float x, float y, float z, float tol = 1e-6f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

std::vector<uint32_t> corners(const Mesh& m, int firstTriangle, int triangles) {
    return {m.indices.begin() + 3 * firstTriangle, m.indices.begin() + 3 * (firstTriangle + triangles)};
}

// Unit normals on the inside (dot with `outward(p)` negative), and on the outside
// after invertMesh.
template <typename Outward>
void expectNormalsInwardThenOutward(Mesh m, Outward outward) {
    m.computeNormals();
    for (float side : {-1.0f, 1.0f}) {
        for (int v = 0; v < m.vertexCount; ++v) {
            const Vec3 n = m.normals[v], out = outward(m.positions[v]);
            EXPECT_NEAR(n.length(), 1.0f, 1e-5f) << v;
            EXPECT_GT(side * (n.x * out.x + n.y * out.y + n.z * out.z), 0.0f) << "vertex " << v << " side " << side;
        }
        m.invertMesh();
    }
}

TEST(GeneratorTest, BoxCornerNormalsAreWeightedNotDiagonal) {
    Mesh m;
    m.buildBox(1.0f, 2.0f, 3.0f);
    expectVec(m.positions[5], -1, 2, -3, 0);
    EXPECT_EQ(m.texCoords[6].s, 1.0f);
    EXPECT_EQ(m.texCoords[6].t, 0.0f);
    m.buildBox(1.0f, 1.0f, 1.0f);
    m.computeNormals();
    expectVec(m.normals[0], 2.0f / 3, -2.0f / 3, -1.0f / 3);
    expectVec(m.normals[1], -0.4082f, -0.4082f, -0.8165f, 1e-4f);
    expectNormalsInwardThenOutward(m, [](Vec3 p) { return p; });
}

TEST(GeneratorTest, TubeEightByOne) {
    Mesh m;
    m.buildTube(8, 1, 1.0f, 2.0f);
    ASSERT_EQ(m.vertexCount, 16);
    ASSERT_EQ(m.triangleCount, 16);
    expectVec(m.positions[0], -1, -1, 0, 0);
    expectVec(m.positions[2], 0, -1, 1);
    expectVec(m.positions[8], -1, 1, 0, 0);
    EXPECT_EQ(m.texCoords[0].t, 0.0f);
    EXPECT_EQ(m.texCoords[8].t, 1.0f);
    // s over whole degrees, truncated: 0, 22, 45, 67, 90, 112, 135, 157.
    const int degrees[8] = {0, 22, 45, 67, 90, 112, 135, 157};
    for (int j = 0; j < 8; ++j) EXPECT_NEAR(m.texCoords[8 + j].s, std::sin(degrees[j] * DEG), 1e-5) << j;
    // First quad: overlay a-b along the ring, c-c, b-d along the tube. The last quad of
    // ring 0 wraps to column 0.
    EXPECT_EQ(corners(m, 0, 2), (std::vector<uint32_t>{0, 1, 8, 8, 1, 9}));
    EXPECT_EQ(corners(m, 14, 2), (std::vector<uint32_t>{7, 0, 15, 15, 0, 8}));
}

TEST(GeneratorTest, TubeThirtyTwoSegmentsFacesTheAxis) {
    Mesh m;
    m.buildTube(32, 32, 3.0f, 10.0f);
    ASSERT_EQ(m.vertexCount, 32 * 33);
    EXPECT_NEAR(m.texCoords[1].s, std::sin(5 * DEG), 1e-5);  // 5.625 truncated to 5
    EXPECT_EQ(m.positions[0].y, -5.0f);
    EXPECT_EQ(m.positions[32 * 32].y, 5.0f);
    expectNormalsInwardThenOutward(m, [](Vec3 p) { return Vec3(p.x, 0.0f, p.z); });
}

TEST(GeneratorTest, TorusFourByFour) {
    Mesh m;
    m.buildTorus(4, 4, 2.0f, 1.0f);
    ASSERT_EQ(m.vertexCount, 25);
    ASSERT_EQ(m.triangleCount, 32);
    expectVec(m.positions[0], 2, 1, 0, 0);
    expectVec(m.positions[1], 3, 0, 0);
    EXPECT_NEAR(m.texCoords[1].s, 1.0f, 1e-6f);
    // Column 4 and ring 4 repeat column and ring 0; ring 4 carries t = 5.
    expectVec(m.positions[4], 2, 1, 0, 1e-5f);
    expectVec(m.positions[20], 2, 1, 0, 1e-5f);
    EXPECT_EQ(m.texCoords[20].t, 5.0f);
    const std::set<uint32_t> used(m.indices.begin(), m.indices.end());
    EXPECT_EQ(used.size(), 25u);
    EXPECT_EQ(*used.rbegin(), 24u);
    // Quad (0, 0) is a=0, b=1, c=5, d=6: overlay c-b, a-d, b-c, an X.
    EXPECT_EQ(corners(m, 0, 2), (std::vector<uint32_t>{5, 1, 0, 6, 1, 5}));
    m.buildTorus(32, 32, 4.0f, 1.0f);
    expectNormalsInwardThenOutward(m, [](Vec3 p) {
        const float r = std::sqrt(p.x * p.x + p.z * p.z);
        return Vec3(p.x - 4.0f * p.x / r, p.y, p.z - 4.0f * p.z / r);
    });
}

TEST(GeneratorTest, BadCountsGiveAnEmptyMeshThatIsSafeToUse) {
    // Below 1, or so many that the index count would overflow; tube, then torus.
    const int bad[][3] = {{0, 4, 0}, {4, 0, 0}, {-3, 2, 1}, {1 << 20, 1 << 20, 1}};
    for (const auto& c : bad) {
        Mesh m;
        m.buildBox(1.0f, 1.0f, 1.0f);
        m.computeNormals();  // nothing of this may survive
        c[2] ? m.buildTorus(c[0], c[1], 2.0f, 1.0f) : m.buildTube(c[0], c[1], 1.0f, 1.0f);
        EXPECT_EQ(m.vertexCount + m.triangleCount, 0) << c[0] << "x" << c[1];
        EXPECT_TRUE(m.positions.empty() && m.indices.empty() && m.normals.empty());
        m.computeNormals();
        m.invertMesh();
        m.savePositions();
        m.waveDeform(Vec3(1, 0, 0), 1.0f, 0.0f, 1.0f);
        m.restorePositions();
        EXPECT_TRUE(m.isComplete());
    }
}

}  // namespace

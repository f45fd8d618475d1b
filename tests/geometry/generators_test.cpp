// The box, tube and torus generators: counts, vertex order, texture coordinates,
// index order (and so the overlay's segments), and normals pointing into the solid.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "geometry/mesh.h"

namespace {

constexpr double DEG = 3.14159265358979 / 180.0;

void expectVec(const Vec3& v, float x, float y, float z, float tol) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

void expectTriangle(const Mesh& m, int t, uint32_t i0, uint32_t i1, uint32_t i2) {
    EXPECT_EQ(m.indices[3 * t], i0) << "triangle " << t;
    EXPECT_EQ(m.indices[3 * t + 1], i1) << "triangle " << t;
    EXPECT_EQ(m.indices[3 * t + 2], i2) << "triangle " << t;
}

// The overlay's segments: consecutive pairs of the index stream.
std::vector<std::pair<uint32_t, uint32_t>> overlaySegments(const Mesh& m) {
    std::vector<std::pair<uint32_t, uint32_t>> segments;
    for (size_t k = 0; k + 1 < m.indices.size(); k += 2) segments.push_back({m.indices[k], m.indices[k + 1]});
    return segments;
}

// Every normal must be unit length and lie on the side `outward(p)` says is outside:
// negative dot product before invertMesh, positive after.
template <typename Outward>
void expectNormalsInwardThenOutward(Mesh m, Outward outward) {
    m.computeNormals();
    for (int pass = 0; pass < 2; ++pass) {
        for (int v = 0; v < m.vertexCount; ++v) {
            const Vec3 n = m.normals[v], out = outward(m.positions[v]);
            const float dot = n.x * out.x + n.y * out.y + n.z * out.z;
            EXPECT_NEAR(n.length(), 1.0f, 1e-5f) << "vertex " << v;
            if (pass == 0)
                EXPECT_LT(dot, 0.0f) << "vertex " << v << " should face inward";
            else
                EXPECT_GT(dot, 0.0f) << "vertex " << v << " should face outward";
        }
        m.invertMesh();
    }
}

TEST(BoxTest, CornersTextureAndTriangles) {
    Mesh m;
    m.buildBox(1.0f, 2.0f, 3.0f);
    ASSERT_EQ(m.vertexCount, 8);
    ASSERT_EQ(m.triangleCount, 12);
    expectVec(m.positions[0], -1, 2, 3, 0);
    expectVec(m.positions[4], 1, 2, -3, 0);
    expectVec(m.positions[6], -1, -2, -3, 0);
    EXPECT_EQ(m.texCoords[5].s, 1.0f);
    EXPECT_EQ(m.texCoords[5].t, 1.0f);
    EXPECT_EQ(m.texCoords[7].s, 0.0f);
    EXPECT_EQ(m.texCoords[6].s, 1.0f);
    expectTriangle(m, 0, 3, 1, 0);
    expectTriangle(m, 7, 6, 3, 0);
    expectTriangle(m, 11, 6, 2, 3);
}

TEST(BoxTest, CornerNormalsAreWeightedNotDiagonal) {
    Mesh m;
    m.buildBox(1.0f, 1.0f, 1.0f);
    m.computeNormals();
    expectVec(m.normals[0], 2.0f / 3, -2.0f / 3, -1.0f / 3, 1e-6f);
    expectVec(m.normals[1], -0.4082f, -0.4082f, -0.8165f, 1e-4f);
    expectNormalsInwardThenOutward(m, [](Vec3 p) { return p; });
}

TEST(BoxTest, OverlayDrawsTheEighteenSegments) {
    Mesh m;
    m.buildBox(1.0f, 1.0f, 1.0f);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {3, 1}, {0, 3}, {2, 1}, {2, 4}, {1, 2}, {7, 4}, {7, 5}, {4, 7}, {6, 5},
        {5, 6}, {0, 6}, {3, 0}, {0, 4}, {5, 1}, {4, 0}, {2, 6}, {7, 6}, {2, 3}};
    EXPECT_EQ(overlaySegments(m), expected);
}

TEST(TubeTest, EightByOne) {
    Mesh m;
    m.buildTube(8, 1, 1.0f, 2.0f);
    ASSERT_EQ(m.vertexCount, 16);
    ASSERT_EQ(m.triangleCount, 16);
    expectVec(m.positions[0], -1, -1, 0, 0);
    EXPECT_EQ(m.texCoords[0].s, 0.0f);
    EXPECT_EQ(m.texCoords[0].t, 0.0f);
    expectVec(m.positions[2], 0, -1, 1, 1e-6f);
    expectVec(m.positions[8], -1, 1, 0, 0);
    EXPECT_EQ(m.texCoords[8].t, 1.0f);
    // Whole degrees, truncated: 0, 22, 45, 67, 90, 112, 135, 157.
    const int degrees[8] = {0, 22, 45, 67, 90, 112, 135, 157};
    for (int j = 0; j < 8; ++j) EXPECT_NEAR(m.texCoords[8 + j].s, std::sin(degrees[j] * DEG), 1e-5) << j;
    // The last quad of ring 0 wraps to column 0.
    expectTriangle(m, 14, 7, 0, 15);
    expectTriangle(m, 15, 15, 0, 8);
    // Per quad: along the ring, a zero-length one, along the tube; never a diagonal.
    const auto segments = overlaySegments(m);
    EXPECT_EQ(segments[0], (std::pair<uint32_t, uint32_t>{0, 1}));
    EXPECT_EQ(segments[1], (std::pair<uint32_t, uint32_t>{8, 8}));
    EXPECT_EQ(segments[2], (std::pair<uint32_t, uint32_t>{1, 9}));
}

TEST(TubeTest, ThirtyTwoSegmentsUseWholeDegreesAndFaceTheAxis) {
    Mesh m;
    m.buildTube(32, 32, 3.0f, 10.0f);
    ASSERT_EQ(m.vertexCount, 32 * 33);
    ASSERT_EQ(m.triangleCount, 2 * 32 * 32);
    EXPECT_NEAR(m.texCoords[1].s, std::sin(5 * DEG), 1e-5);  // 5.625 truncated to 5
    EXPECT_NEAR(m.positions[0].y, -5.0f, 1e-6f);
    EXPECT_NEAR(m.positions[32 * 32].y, 5.0f, 1e-6f);
    expectNormalsInwardThenOutward(m, [](Vec3 p) { return Vec3(p.x, 0.0f, p.z); });
}

TEST(TorusTest, FourByFour) {
    Mesh m;
    m.buildTorus(4, 4, 2.0f, 1.0f);
    ASSERT_EQ(m.vertexCount, 25);
    ASSERT_EQ(m.triangleCount, 32);
    expectVec(m.positions[0], 2, 1, 0, 0);
    EXPECT_EQ(m.texCoords[0].s, 0.0f);
    EXPECT_EQ(m.texCoords[0].t, 0.0f);
    expectVec(m.positions[1], 3, 0, 0, 1e-6f);
    EXPECT_NEAR(m.texCoords[1].s, 1.0f, 1e-6f);
    // Ring 4 repeats ring 0's positions with t = 5; column 4 repeats column 0.
    expectVec(m.positions[20], 2, 1, 0, 1e-5f);
    EXPECT_EQ(m.texCoords[20].t, 5.0f);
    expectVec(m.positions[4], 2, 1, 0, 1e-5f);
    std::set<uint32_t> used(m.indices.begin(), m.indices.end());
    EXPECT_EQ(used.size(), 25u);
    EXPECT_LT(*used.rbegin(), 25u);
    // Quad (0, 0): a = 0, b = 1, c = 5, d = 6; the overlay crosses it c-b, a-d, b-c.
    expectTriangle(m, 0, 5, 1, 0);
    expectTriangle(m, 1, 6, 1, 5);
    const auto segments = overlaySegments(m);
    EXPECT_EQ(segments[0], (std::pair<uint32_t, uint32_t>{5, 1}));
    EXPECT_EQ(segments[1], (std::pair<uint32_t, uint32_t>{0, 6}));
    EXPECT_EQ(segments[2], (std::pair<uint32_t, uint32_t>{1, 5}));
}

TEST(TorusTest, NormalsFaceTheCentreCircle) {
    Mesh m;
    m.buildTorus(32, 32, 4.0f, 1.0f);
    expectNormalsInwardThenOutward(m, [](Vec3 p) {
        const float r = std::sqrt(p.x * p.x + p.z * p.z);
        return Vec3(p.x - 4.0f * p.x / r, p.y, p.z - 4.0f * p.z / r);
    });
}

TEST(GeneratorTest, CountsBelowOneGiveAnEmptyMeshThatIsSafeToUse) {
    const int bad[][2] = {{0, 4}, {4, 0}, {-3, 2}, {2, -1}, {1 << 20, 1 << 20}};
    for (const auto& counts : bad) {
        for (int shape = 0; shape < 2; ++shape) {
            Mesh m;
            m.buildBox(1.0f, 1.0f, 1.0f);  // earlier contents must not survive
            if (shape == 0)
                m.buildTube(counts[0], counts[1], 1.0f, 1.0f);
            else
                m.buildTorus(counts[0], counts[1], 2.0f, 1.0f);
            EXPECT_EQ(m.vertexCount, 0) << counts[0] << "x" << counts[1];
            EXPECT_EQ(m.triangleCount, 0);
            EXPECT_TRUE(m.positions.empty() && m.indices.empty() && m.texCoords.empty());
            m.computeNormals();
            m.invertMesh();
            m.savePositions();
            m.waveDeform(Vec3(1, 0, 0), 1.0f, 0.0f, 1.0f);
            m.restorePositions();
            EXPECT_TRUE(m.isComplete());
        }
    }
}

TEST(GeneratorTest, RegeneratingDropsTheOldNormals) {
    Mesh m;
    m.buildTorus(8, 8, 2.0f, 1.0f);
    m.computeNormals();
    m.buildBox(1.0f, 1.0f, 1.0f);
    // Normals sized for the torus would let drawing read past the box's arrays.
    EXPECT_FALSE(m.isComplete());
    m.computeNormals();
    EXPECT_TRUE(m.isComplete());
    EXPECT_EQ(m.normals.size(), 8u);
}

}  // namespace

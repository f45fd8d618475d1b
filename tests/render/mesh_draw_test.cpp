// Mesh drawing as GL receives it (primitives captured in feedback mode) and the state
// each draw leaves.
#include <GL/gl.h>

#include <vector>

#include "geometry/mesh.h"
#include "tests/support/gl_test.h"

namespace {

// Orthographic view of (-2..2)^3: unit-box corners land at window x 160/480,
// y 120/360, depth 0.75/0.25 for z = -1/+1.
void boxView() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2, 2, -2, 2, -2, 2);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The unit-box corner at a window position under boxView, from the signs of x, y, z.
int cornerAt(const GLfloat* w) {
    static const int bySigns[8] = {6, 3, 5, 0, 7, 2, 4, 1};  // index: 4*(x>0) + 2*(y>0) + (z>0)
    return bySigns[4 * (w[0] > 320) + 2 * (w[1] > 240) + (w[2] < 0.5f)];
}

// Draws in feedback mode and returns each primitive GL produced as box corner numbers.
template <typename Draw>
std::vector<std::vector<int>> captureCorners(Draw draw) {
    boxView();
    static GLfloat buffer[4096];
    glFeedbackBuffer(4096, GL_3D, buffer);
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint used = glRenderMode(GL_RENDER);
    std::vector<std::vector<int>> primitives;
    for (GLint k = 0; k < used;) {
        // A polygon token carries its vertex count; line tokens have two vertices.
        const int count = static_cast<GLenum>(buffer[k++]) == GL_POLYGON_TOKEN ? static_cast<int>(buffer[k++]) : 2;
        primitives.emplace_back();
        for (int v = 0; v < count; ++v, k += 3) primitives.back().push_back(cornerAt(&buffer[k]));
    }
    return primitives;
}

Mesh completeBox() {
    Mesh box;
    box.buildBox(1, 1, 1);
    box.computeNormals();
    return box;
}

class MeshDrawTest : public GlTest {};

TEST_F(MeshDrawTest, LinesReachGlAsTheEighteenBoxSegments) {
    const Mesh box = completeBox();
    const std::vector<std::vector<int>> expected = {
        {3, 1}, {0, 3}, {2, 1}, {2, 4}, {1, 2}, {7, 4}, {7, 5}, {4, 7}, {6, 5},
        {5, 6}, {0, 6}, {3, 0}, {0, 4}, {5, 1}, {4, 0}, {2, 6}, {7, 6}, {2, 3}};
    EXPECT_EQ(captureCorners([&] { box.drawLines(); }), expected);
}

TEST_F(MeshDrawTest, SolidDrawsTheTrianglesInIndexOrderAndLeavesTheArraysOff) {
    const Mesh box = completeBox();
    const std::vector<std::vector<int>> triangles = captureCorners([&] { box.drawSolid(); });
    ASSERT_EQ(triangles.size(), 12u);
    for (size_t t = 0; t < 12; ++t)
        EXPECT_EQ(triangles[t], (std::vector<int>(box.indices.begin() + 3 * t, box.indices.begin() + 3 * t + 3)));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    GLvoid* pointer = nullptr;
    glGetPointerv(GL_NORMAL_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, static_cast<const void*>(box.normals.data()));

    Mesh empty;  // the zero-initialised record: a draw of nothing, no GL error
    empty.computeNormals();
    EXPECT_TRUE(captureCorners([&] { empty.drawSolid(); empty.drawLines(); }).empty());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(MeshDrawTest, LinesIgnoreTheDepthTestAndRestoreEverything) {
    const Mesh box = completeBox();
    boxView();
    // A depth test that rejects everything: only lines drawn with it off can show.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_NEVER);
    glNormal3f(0, 0, 1);
    glTexCoord2f(0.25f, 0.75f);
    glColor4f(0.1f, 0.2f, 0.3f, 1.0f);
    box.drawLines();

    // Segment 2-1 is the right front edge, x = +1: window column 480.
    bool drawn = false;
    for (int x = 478; x <= 481; ++x) drawn = drawn || !(pixelAt(x, 240) == (Rgba{255, 255, 255, 255}));
    EXPECT_TRUE(drawn) << "the overlay must not be hidden by the depth test";
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint depth = -1, func = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &func);
    EXPECT_EQ(func, GL_NEVER);
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 0);
    GLfloat normal[3], tex[4], colour[4];
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, tex);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(normal[2], 1.0f);
    EXPECT_EQ(tex[1], 0.75f);
    EXPECT_EQ(colour[1], 0.2f);
}

}  // namespace

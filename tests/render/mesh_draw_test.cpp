// Mesh drawing as GL receives it: the primitives captured in feedback mode, and the
// state each draw leaves.
#include <GL/gl.h>

#include <utility>
#include <vector>

#include "geometry/mesh.h"
#include "tests/support/gl_test.h"

namespace {

// One primitive from the feedback buffer: its vertices' window coordinates.
struct Primitive {
    GLenum kind;  // GL_LINE_TOKEN (resets included) or GL_POLYGON_TOKEN
    std::vector<Vec3> vertices;
};

// Draws under an orthographic view of (-2..2)^3 and returns what GL rasterised.
template <typename Draw>
std::vector<Primitive> capture(Draw draw) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2, 2, -2, 2, -2, 2);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    static GLfloat buffer[1 << 16];
    glFeedbackBuffer(1 << 16, GL_3D, buffer);
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint used = glRenderMode(GL_RENDER);
    std::vector<Primitive> out;
    for (GLint k = 0; k < used;) {
        const GLenum token = static_cast<GLenum>(buffer[k++]);
        GLint count = 0;
        if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
            count = 2;
        } else if (token == GL_POLYGON_TOKEN) {
            count = static_cast<GLint>(buffer[k++]);
        } else {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
        Primitive p{token == GL_POLYGON_TOKEN ? GLenum(GL_POLYGON_TOKEN) : GLenum(GL_LINE_TOKEN), {}};
        for (GLint v = 0; v < count; ++v, k += 3) p.vertices.push_back(Vec3(buffer[k], buffer[k + 1], buffer[k + 2]));
        out.push_back(p);
    }
    return out;
}

// The unit box corner a window-space vertex came from (ortho maps x, y = +-1 to
// 480/160 and 360/120, z = +1 to depth 0.25).
int boxCorner(const Mesh& box, const Vec3& w) {
    const float x = w.x > 320 ? 1.0f : -1.0f, y = w.y > 240 ? 1.0f : -1.0f, z = w.z < 0.5f ? 1.0f : -1.0f;
    for (int c = 0; c < 8; ++c)
        if (box.positions[c].x == x && box.positions[c].y == y && box.positions[c].z == z) return c;
    return -1;
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
    const std::vector<Primitive> lines = capture([&] { box.drawLines(); });
    const std::vector<std::pair<int, int>> expected = {
        {3, 1}, {0, 3}, {2, 1}, {2, 4}, {1, 2}, {7, 4}, {7, 5}, {4, 7}, {6, 5},
        {5, 6}, {0, 6}, {3, 0}, {0, 4}, {5, 1}, {4, 0}, {2, 6}, {7, 6}, {2, 3}};
    std::vector<std::pair<int, int>> got;
    for (const Primitive& p : lines) {
        EXPECT_EQ(p.kind, GLenum(GL_LINE_TOKEN));
        got.push_back({boxCorner(box, p.vertices[0]), boxCorner(box, p.vertices[1])});
    }
    EXPECT_EQ(got, expected);
}

TEST_F(MeshDrawTest, SolidReachesGlAsTheTwelveTrianglesInIndexOrder) {
    const Mesh box = completeBox();
    const std::vector<Primitive> triangles = capture([&] { box.drawSolid(); });
    ASSERT_EQ(triangles.size(), 12u);
    for (size_t t = 0; t < triangles.size(); ++t) {
        ASSERT_EQ(triangles[t].vertices.size(), 3u);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(boxCorner(box, triangles[t].vertices[k]), int(box.indices[3 * t + k])) << t;
    }
    Mesh empty;
    empty.computeNormals();
    EXPECT_TRUE(capture([&] { empty.drawSolid(); empty.drawLines(); }).empty());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(MeshDrawTest, SolidLeavesTheClientArraysOff) {
    const Mesh box = completeBox();
    glEnable(GL_LIGHTING);
    box.drawSolid();
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLvoid* pointer = nullptr;
    glGetPointerv(GL_VERTEX_ARRAY_POINTER, &pointer);
    EXPECT_EQ(pointer, static_cast<const void*>(box.positions.data()));
    glDisable(GL_LIGHTING);
}

TEST_F(MeshDrawTest, LinesShowThroughNearerSurfacesAndRestoreEverything) {
    const Mesh box = completeBox();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2, 2, -2, 2, -2, 2);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // A white wall in front of the whole box (z = 1.5 against the box's +1), written
    // into the depth buffer.
    glEnable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);
    glVertex3f(-2, -2, 1.5f);
    glVertex3f(2, -2, 1.5f);
    glVertex3f(2, 2, 1.5f);
    glVertex3f(-2, 2, 1.5f);
    glEnd();
    glNormal3f(0, 0, 1);
    glTexCoord2f(0.25f, 0.75f);
    glColor4f(0.1f, 0.2f, 0.3f, 1.0f);
    box.drawLines();

    // Segment 2-1 is the box's right front edge, x = +1: window column 480.
    bool drawn = false;
    for (int x = 478; x <= 481; ++x) drawn = drawn || !(pixelAt(x, 240) == (Rgba{255, 255, 255, 255}));
    EXPECT_TRUE(drawn) << "the overlay should not be hidden by the depth test";
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint depth = -1;
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 0);
    GLfloat normal[3], tex[4], colour[4];
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, tex);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(normal[2], 1.0f);
    EXPECT_EQ(tex[0], 0.25f);
    EXPECT_EQ(tex[1], 0.75f);
    EXPECT_EQ(colour[1], 0.2f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace

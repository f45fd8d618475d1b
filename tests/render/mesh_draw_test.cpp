// Mesh drawing as GL receives it (primitives captured in feedback mode) and the state
// each draw leaves.
#include <GL/gl.h>

#include <GL/glu.h>

#include <vector>

#include "geometry/mesh.h"
#include "render/render_state.h"
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

TEST_F(MeshDrawTest, SolidDrawsTheTrianglesInIndexOrderAndLeavesItsArraysBound) {
    const Mesh box = completeBox();
    for (bool plain : {false, true}) {
        plainDrawing = plain;
        const std::vector<std::vector<int>> triangles = captureCorners([&] { box.drawSolid(); });
        ASSERT_EQ(triangles.size(), 12u);
        for (size_t t = 0; t < 12; ++t)
            EXPECT_EQ(triangles[t], (std::vector<int>(box.indices.begin() + 3 * t, box.indices.begin() + 3 * t + 3)));
        // Left on for the next draw, or switched off again in the plain form.
        for (GLenum array : {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_TEXTURE_COORD_ARRAY})
            EXPECT_EQ(glIsEnabled(array), plain ? GL_FALSE : GL_TRUE) << std::hex << array;
        GLvoid* pointer = nullptr;
        glGetPointerv(GL_NORMAL_ARRAY_POINTER, &pointer);
        EXPECT_EQ(pointer, static_cast<const void*>(box.normals.data()));
    }
    plainDrawing = false;

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

// What drawLines leaves that a caller could see, besides the pixels.
struct LinesAftermath {
    GLboolean depthTest, vertexArray, normalArray, texCoordArray;
    GLvoid* vertexPointer;
    GLfloat normal[3], texCoord[4], colour[4];
    bool operator==(const LinesAftermath& o) const {
        return depthTest == o.depthTest && vertexArray == o.vertexArray &&
               normalArray == o.normalArray && texCoordArray == o.texCoordArray &&
               vertexPointer == o.vertexPointer &&
               std::equal(normal, normal + 3, o.normal) && std::equal(texCoord, texCoord + 4, o.texCoord) &&
               std::equal(colour, colour + 4, o.colour);
    }
};

LinesAftermath linesAftermath() {
    LinesAftermath a{};
    a.depthTest = glIsEnabled(GL_DEPTH_TEST);
    a.vertexArray = glIsEnabled(GL_VERTEX_ARRAY);
    a.normalArray = glIsEnabled(GL_NORMAL_ARRAY);
    a.texCoordArray = glIsEnabled(GL_TEXTURE_COORD_ARRAY);
    glGetPointerv(GL_VERTEX_ARRAY_POINTER, &a.vertexPointer);
    glGetFloatv(GL_CURRENT_NORMAL, a.normal);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, a.texCoord);
    glGetFloatv(GL_CURRENT_COLOR, a.colour);
    return a;
}

TEST_F(MeshDrawTest, ArrayLinesMatchImmediateLinesPixelForPixel) {
    Mesh box = completeBox();
    Mesh room = completeBox();
    room.invertMesh();
    Mesh tube;
    tube.buildTube(32, 32, 1.2f, 7.0f);
    tube.computeNormals();
    tube.savePositions();
    tube.waveDeform(Vec3(1, 0, 0), 0.4f, 0.7f, 1.3f);
    Mesh torus;
    torus.buildTorus(32, 32, 1.2f, 0.6f);
    torus.computeNormals();
    const Mesh* meshes[] = {&box, &room, &tube, &torus};

    std::vector<uint8_t> checker(32 * 32 * 4);
    for (int i = 0; i < 32 * 32; ++i) {
        const bool on = ((i % 32) / 4 + (i / 32) / 4) % 2 == 0;
        checker[i * 4 + 0] = on ? 250 : 20;
        checker[i * 4 + 1] = on ? 90 : 200;
        checker[i * 4 + 2] = static_cast<uint8_t>(i % 256);
        checker[i * 4 + 3] = on ? 255 : 128;
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, 32, 32, GL_RGBA, GL_UNSIGNED_BYTE, checker.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);

    const GLfloat light[4] = {0.8f, 0.7f, 0.6f, 1.0f};
    const GLfloat material[4] = {1.0f, 0.9f, 0.5f, 1.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, light);
    glEnable(GL_LIGHT0);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, material);

    // Every state the scenes draw overlays under: smooth or plain lines, textured or
    // not, lit or not, additive, opaque (GL's initial function) or unblended, and a
    // depth test that would hide them.
    int cases = 0;
    for (int variant = 0; variant < 32; ++variant) {
        const bool smooth = variant & 1, textured = variant & 2, lit = variant & 4;
        const int blend = (variant >> 3) % 3;
        const bool depth = variant >= 16;
        std::vector<uint8_t> frames[2];
        LinesAftermath after[2];
        for (int way = 0; way < 2; ++way) {
            glClearColor(0.3f, 0.35f, 0.4f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            gluPerspective(60.0, 4.0 / 3.0, 0.1, 100.0);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            gluLookAt(0.5, 1.0, 6.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
            smooth ? glEnable(GL_LINE_SMOOTH) : glDisable(GL_LINE_SMOOTH);
            glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
            textured ? glEnable(GL_TEXTURE_2D) : glDisable(GL_TEXTURE_2D);
            lit ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
            glEnable(GL_BLEND);
            glBlendFunc(blend == 1 ? GL_ONE : GL_SRC_ALPHA, blend == 1 ? GL_ZERO : GL_ONE);
            if (blend == 2) glDisable(GL_BLEND);
            depth ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
            glDepthFunc(GL_LESS);
            glColor4f(0.9f, 0.6f, 0.3f, 0.7f);
            glNormal3f(0.0f, 0.6f, 0.8f);
            glTexCoord2f(0.125f, 0.375f);
            for (const Mesh* mesh : meshes) {
                glPushMatrix();
                glRotatef(17.0f * variant, 1.0f, 1.0f, 1.0f);
                mesh->drawSolid();  // fills the depth buffer the overlay must ignore
                way == 0 ? mesh->drawLinesImmediate() : mesh->drawLines();
                glPopMatrix();
            }
            frames[way] = readFrame();
            after[way] = linesAftermath();
        }
        EXPECT_TRUE(frames[0] == frames[1]) << "variant " << variant;
        EXPECT_TRUE(after[0] == after[1]) << "variant " << variant;
        ++cases;
    }
    EXPECT_EQ(cases, 32);
    glDeleteTextures(1, &texture);
}

}  // namespace

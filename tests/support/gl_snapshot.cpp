// Reads back the GL settings a test or a frame may change (see gl_snapshot.h).
#include "tests/support/gl_snapshot.h"

#include <cstdio>

#include "tests/support/gl_test.h"

const std::vector<GLenum> glSnapshotSwitches = {
    GL_ALPHA_TEST, GL_AUTO_NORMAL, GL_BLEND, GL_COLOR_LOGIC_OP, GL_COLOR_MATERIAL,
    GL_CULL_FACE, GL_DEPTH_TEST, GL_DITHER, GL_FOG, GL_LIGHTING, GL_LINE_SMOOTH,
    GL_LINE_STIPPLE, GL_NORMALIZE, GL_POINT_SMOOTH, GL_POLYGON_OFFSET_FILL,
    GL_POLYGON_OFFSET_LINE, GL_POLYGON_SMOOTH, GL_POLYGON_STIPPLE, GL_RESCALE_NORMAL,
    GL_SCISSOR_TEST, GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T,
    GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q, GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_COLOR_ARRAY,
    GL_TEXTURE_COORD_ARRAY};

namespace {

const GLenum INTEGERS[] = {
    GL_BLEND_SRC, GL_BLEND_DST, GL_DEPTH_FUNC, GL_DEPTH_WRITEMASK, GL_ALPHA_TEST_FUNC,
    GL_CULL_FACE_MODE, GL_FRONT_FACE, GL_SHADE_MODEL, GL_LOGIC_OP_MODE, GL_LIST_BASE,
    GL_LIST_INDEX, GL_RENDER_MODE, GL_ATTRIB_STACK_DEPTH, GL_CLIENT_ATTRIB_STACK_DEPTH,
    GL_MATRIX_MODE, GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH,
    GL_TEXTURE_STACK_DEPTH, GL_TEXTURE_BINDING_1D, GL_TEXTURE_BINDING_2D,
    GL_COLOR_MATERIAL_FACE, GL_COLOR_MATERIAL_PARAMETER, GL_LIGHT_MODEL_LOCAL_VIEWER,
    GL_LIGHT_MODEL_TWO_SIDE, GL_LINE_SMOOTH_HINT, GL_PERSPECTIVE_CORRECTION_HINT,
    GL_PACK_ALIGNMENT, GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS,
    GL_PACK_SWAP_BYTES, GL_PACK_LSB_FIRST, GL_UNPACK_ALIGNMENT, GL_UNPACK_ROW_LENGTH,
    GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS, GL_UNPACK_SWAP_BYTES, GL_UNPACK_LSB_FIRST,
    GL_VERTEX_ARRAY_SIZE, GL_COLOR_ARRAY_TYPE, GL_TEXTURE_COORD_ARRAY_STRIDE,
    GL_NORMAL_ARRAY_STRIDE, GL_STENCIL_FUNC, GL_STENCIL_FAIL, GL_STENCIL_WRITEMASK,
    GL_LINE_STIPPLE_PATTERN, GL_FOG_MODE, GL_DRAW_FRAMEBUFFER_BINDING,
    GL_READ_FRAMEBUFFER_BINDING, GL_CURRENT_RASTER_POSITION_VALID};
// Each with how many values it has.
const std::pair<GLenum, int> FLOATS[] = {
    {GL_CURRENT_COLOR, 4}, {GL_CURRENT_NORMAL, 3}, {GL_CURRENT_TEXTURE_COORDS, 4},
    {GL_CURRENT_RASTER_POSITION, 4}, {GL_CURRENT_RASTER_COLOR, 4}, {GL_MODELVIEW_MATRIX, 16},
    {GL_PROJECTION_MATRIX, 16}, {GL_TEXTURE_MATRIX, 16}, {GL_COLOR_CLEAR_VALUE, 4},
    {GL_DEPTH_CLEAR_VALUE, 1}, {GL_DEPTH_RANGE, 2}, {GL_LINE_WIDTH, 1}, {GL_POINT_SIZE, 1},
    {GL_ZOOM_X, 1}, {GL_LIGHT_MODEL_AMBIENT, 4}, {GL_POLYGON_OFFSET_FACTOR, 1},
    {GL_ALPHA_TEST_REF, 1}, {GL_POLYGON_MODE, 2}, {GL_COLOR_WRITEMASK, 4}, {GL_VIEWPORT, 4},
    {GL_SCISSOR_BOX, 4}, {GL_FOG_DENSITY, 1}, {GL_FOG_COLOR, 4}};
const std::pair<GLenum, int> LIGHT_PARAMETERS[] = {
    {GL_AMBIENT, 4}, {GL_DIFFUSE, 4}, {GL_SPECULAR, 4}, {GL_POSITION, 4},
    {GL_SPOT_DIRECTION, 3}, {GL_SPOT_EXPONENT, 1}, {GL_SPOT_CUTOFF, 1},
    {GL_CONSTANT_ATTENUATION, 1}, {GL_LINEAR_ATTENUATION, 1}, {GL_QUADRATIC_ATTENUATION, 1}};
const std::pair<GLenum, int> MATERIAL_PARAMETERS[] = {
    {GL_AMBIENT, 4}, {GL_DIFFUSE, 4}, {GL_SPECULAR, 4}, {GL_EMISSION, 4}, {GL_SHININESS, 1}};
const GLenum COORDS[4] = {GL_S, GL_T, GL_R, GL_Q};

std::string hex(GLenum value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

}  // namespace

GlSnapshot glStateSnapshot() {
    GlSnapshot s;
    for (GLenum cap : glSnapshotSwitches) s["enabled " + hex(cap)] = {double(glIsEnabled(cap))};
    for (int i = 0; i < 8; ++i)
        s["enabled light " + std::to_string(i)] = {double(glIsEnabled(GL_LIGHT0 + i))};
    for (GLenum name : INTEGERS) {
        GLint v = 0;
        glGetIntegerv(name, &v);
        s["integer " + hex(name)] = {double(v)};
    }
    for (const auto& [name, count] : FLOATS) {
        GLfloat v[16] = {};
        glGetFloatv(name, v);
        s["float " + hex(name)].assign(v, v + count);
    }
    for (int i = 0; i < 8; ++i)
        for (const auto& [name, count] : LIGHT_PARAMETERS) {
            GLfloat v[4] = {};
            glGetLightfv(GL_LIGHT0 + i, name, v);
            s["light " + std::to_string(i) + " " + hex(name)].assign(v, v + count);
        }
    for (GLenum face : {GL_FRONT, GL_BACK})
        for (const auto& [name, count] : MATERIAL_PARAMETERS) {
            GLfloat v[4] = {};
            glGetMaterialfv(face, name, v);
            s["material " + hex(face) + " " + hex(name)].assign(v, v + count);
        }
    GLint mode = 0;
    GLfloat color[4] = {};
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    glGetTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, color);
    s["texture env mode"] = {double(mode)};
    s["texture env colour"].assign(color, color + 4);
    for (GLenum coord : COORDS) {
        GLfloat object[4] = {}, eye[4] = {};
        glGetTexGeniv(coord, GL_TEXTURE_GEN_MODE, &mode);
        glGetTexGenfv(coord, GL_OBJECT_PLANE, object);
        glGetTexGenfv(coord, GL_EYE_PLANE, eye);
        s["texgen mode " + hex(coord)] = {double(mode)};
        s["texgen object plane " + hex(coord)].assign(object, object + 4);
        s["texgen eye plane " + hex(coord)].assign(eye, eye + 4);
    }
    // Read with the initial pack state, whatever the one in force.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    const GLenum packs[] = {GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS,
                            GL_PACK_SWAP_BYTES, GL_PACK_LSB_FIRST};
    for (GLenum pack : packs) glPixelStorei(pack, 0);
    const Rgba p = pixelAt(10, 10);
    glPopClientAttrib();
    s["pixel (10, 10)"] = {double(p.r), double(p.g), double(p.b)};
    return s;
}


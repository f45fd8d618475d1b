// mesh-preview: renders the box, tube and torus generators' meshes, solid and lit with
// their line overlay, into box.png, tube.png and torus.png in the folder given (default:
// the current one). Each picture has two panels under the same camera and light: left
// the mesh as generated (normals inward), right after invertMesh (normals outward).
// Runs headless: SDL's offscreen video driver unless SDL_VIDEODRIVER says otherwise.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/display.h"
#include "geometry/mesh.h"
#include "render/camera.h"
#include "render/render_state.h"
#include "tools/common/png_file.h"

namespace {

Mesh previewBox;
Mesh previewTube;
Mesh previewTorus;

struct Preview {
    const char* file;
    Mesh* mesh;
    Camera camera;
};

// One panel: the solid lit from above left in front, then the overlay in opaque blue.
// Leaves: lighting, depth test, blending and texturing off; current colour the line blue.
void drawPanel(const Preview& p, int left) {
    glViewport(left, 0, screenWidth / 2, screenHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 0.5 * screenWidth / screenHeight, 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    p.camera.applyCamera();
    sceneLight.setLight(Vec3(-4, 6, 8), Color{1, 1, 1, 1}, Color{0.25f, 0.25f, 0.25f, 1}, 0);
    enable(GL_LIGHTING);
    enable(GL_DEPTH_TEST);
    disable(GL_BLEND);
    disable(GL_TEXTURE_2D);
    disable(GL_CULL_FACE);
    setMaterial(0.95f, 0.6f, 0.3f, 0.6f, 1.0f, 0.4f);
    p.mesh->drawSolid();
    disable(GL_LIGHTING);
    glColor3f(0.1f, 0.25f, 0.9f);
    p.mesh->drawLines();
    disable(GL_DEPTH_TEST);
}

// Both panels, read back and written as <folder>/<file>. The mesh ends as generated.
// Leaves: what drawPanel leaves, the right panel's viewport, what readRenderTarget leaves.
bool render(const Preview& p, const std::string& folder) {
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawPanel(p, 0);
    p.mesh->invertMesh();
    drawPanel(p, screenWidth / 2);
    p.mesh->invertMesh();

    std::vector<uint8_t> rgba(static_cast<size_t>(screenWidth) * screenHeight * 4);
    readRenderTarget(rgba.data());

    const std::string path = folder + "/" + p.file;
    std::string error;
    if (!writePng(path, screenWidth, screenHeight, rgba.data(), &error)) {
        std::fprintf(stderr, "mesh-preview: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!openDisplay("mesh-preview", 640, 480, 32, WindowKind::Hidden)) {
        std::fprintf(stderr, "mesh-preview: no GL context\n");
        return 1;
    }

    previewBox.buildBox(1.0f, 0.75f, 0.5f);
    previewTube.buildTube(16, 6, 1.0f, 3.0f);
    previewTorus.buildTorus(16, 12, 2.0f, 0.7f);
    Preview previews[3] = {{"box.png", &previewBox, {}}, {"tube.png", &previewTube, {}},
                           {"torus.png", &previewTorus, {}}};
    previews[0].camera.setCamera(Vec3(2.2f, 2.0f, 3.6f), Vec3(0, 0, 0), Vec3(0, 1, 0));
    previews[1].camera.setCamera(Vec3(2.5f, 3.5f, 5.5f), Vec3(0, 0, 0), Vec3(0, 1, 0));
    previews[2].camera.setCamera(Vec3(0.0f, 6.5f, 9.5f), Vec3(0, 0, 0), Vec3(0, 1, 0));

    bool ok = true;
    for (Preview& p : previews) {
        p.mesh->computeNormals();
        ok = render(p, folder) && ok;
    }
    closeDisplay();
    return ok ? 0 : 1;
}

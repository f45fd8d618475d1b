// A read-back of the GL settings a test or a frame may change, for comparing the state
// before and after something that must leave it as it found it.
#pragma once
#include <GL/gl.h>

#include <map>
#include <string>
#include <vector>

// Named values: switches, integers, floats (matrices, colours, raster position), all
// eight lights, both faces' materials, texture environment and generation, and the
// render target's pixel at (10, 10).
using GlSnapshot = std::map<std::string, std::vector<double>>;

// The capabilities the snapshot records on or off.
extern const std::vector<GLenum> glSnapshotSwitches;

GlSnapshot glStateSnapshot();

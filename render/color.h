// The colour record shared by lights, sprites and captions.
#pragma once

struct Color {
    float r, g, b, a;  // nominally 0..1
};

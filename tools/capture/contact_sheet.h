// The contact sheet: thumbnails of the frames on screen at regular demo times, captioned
// with the time and the scene, on one PNG. Owns no globals.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/capture/frame_clock.h"
#include "tools/common/canvas.h"

struct ContactSheet {
    std::vector<int64_t> timesUs;  // the times asked for, µs, ascending
    std::vector<int64_t> frames;   // the frame on screen at each time
    size_t next = 0;               // the first thumbnail not yet filled
    int columns = 8;
    Canvas canvas{1, 1, Rgb{0, 0, 0}};
};

// `count` thumbnails at fromUs + i * (toUs - fromUs) / count. Allocates the sheet.
void planContactSheet(ContactSheet& sheet, int count, int64_t fromUs, int64_t toUs, FrameRate rate,
                      const std::string& title);

// The last frame the sheet needs (-1 when it needs none).
int64_t lastSheetFrame(const ContactSheet& sheet);

// True when frame n fills one or more thumbnails.
bool sheetWants(const ContactSheet& sheet, int64_t frame);

// Fills every thumbnail showing frame n from an RGBA picture of at least 160 x 120 pixels
// (rows from the top), each thumbnail pixel the mean of the source pixels it covers.
void addToSheet(ContactSheet& sheet, int64_t frame, int scene, const uint8_t* rgba, int width,
                int height);

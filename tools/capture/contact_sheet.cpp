// Contact-sheet layout and box-filtered thumbnails.
#include "tools/capture/contact_sheet.h"

#include <algorithm>

namespace {
constexpr int THUMB_W = 160, THUMB_H = 120;  // a quarter of 640 x 480
constexpr int GAP = 10, CAPTION = 22, TITLE = 40;
const Rgb BACKGROUND{48, 48, 48}, TEXT{230, 230, 230};

void thumbOrigin(const ContactSheet& sheet, size_t index, int& x, int& y) {
    x = GAP + static_cast<int>(index % sheet.columns) * (THUMB_W + GAP);
    y = TITLE + static_cast<int>(index / sheet.columns) * (THUMB_H + CAPTION + GAP);
}
}  // namespace

void planContactSheet(ContactSheet& sheet, int count, int64_t fromUs, int64_t toUs, FrameRate rate,
                      const std::string& title) {
    sheet.timesUs.clear();
    sheet.frames.clear();
    sheet.next = 0;
    for (int i = 0; i < count; ++i) {
        const int64_t t = fromUs + (toUs - fromUs) * i / count;
        sheet.timesUs.push_back(t);
        sheet.frames.push_back(frameShownAt(t, rate));
    }
    sheet.columns = std::min(8, count);
    const int rows = (count + sheet.columns - 1) / sheet.columns;
    sheet.canvas = Canvas(GAP + sheet.columns * (THUMB_W + GAP), TITLE + rows * (THUMB_H + CAPTION + GAP),
                          BACKGROUND);
    sheet.canvas.text(GAP, 26, title, 17, TEXT);
}

int64_t lastSheetFrame(const ContactSheet& sheet) {
    return sheet.frames.empty() ? -1 : sheet.frames.back();
}

bool sheetWants(const ContactSheet& sheet, int64_t frame) {
    return sheet.next < sheet.frames.size() && sheet.frames[sheet.next] == frame;
}

void addToSheet(ContactSheet& sheet, int64_t frame, int scene, const uint8_t* rgba, int width,
                int height) {
    // Thumbnail pixel (x, y) covers source columns [x * width / THUMB_W, (x + 1) * width /
    // THUMB_W) and the rows likewise: whole blocks at 640 x 480, near-equal ones at any size.
    uint8_t thumb[THUMB_W * THUMB_H * 4];
    for (int y = 0; y < THUMB_H; ++y)
        for (int x = 0; x < THUMB_W; ++x) {
            const int x0 = x * width / THUMB_W, x1 = (x + 1) * width / THUMB_W;
            const int y0 = y * height / THUMB_H, y1 = (y + 1) * height / THUMB_H;
            const int count = (x1 - x0) * (y1 - y0);
            int sum[3] = {0, 0, 0};
            for (int j = y0; j < y1; ++j)
                for (int i = x0; i < x1; ++i) {
                    const uint8_t* p = &rgba[(static_cast<size_t>(j) * width + i) * 4];
                    sum[0] += p[0], sum[1] += p[1], sum[2] += p[2];
                }
            uint8_t* t = &thumb[(y * THUMB_W + x) * 4];
            for (int k = 0; k < 3; ++k) t[k] = static_cast<uint8_t>((sum[k] + count / 2) / count);
            t[3] = 255;
        }
    while (sheetWants(sheet, frame)) {
        int x = 0, y = 0;
        thumbOrigin(sheet, sheet.next, x, y);
        sheet.canvas.paste(thumb, THUMB_W, THUMB_H, x, y);
        const std::string caption = formatSeconds(sheet.timesUs[sheet.next] / 1e6, 1) + " s   scene " +
                                    std::to_string(scene);
        sheet.canvas.text(x + 2, y + THUMB_H + 16, caption, 13, TEXT);
        ++sheet.next;
    }
}

// In-place picture adjustments and compositing on 24-bit frames (blue, green, red bytes).
// Plain integer and table arithmetic, the same on every machine, so a converted frame and its
// preview agree byte for byte. The routines work on any view, top-down or bottom-up; empty
// views are left alone.
#pragma once

#include <cstdint>

#include "editing/render/BitmapView.h"

// Saturation s (0..512), then brightness v (0..512), then contrast a (-100..100) pivoting on
// 170. Brightness and saturation scale by v / 256 and s / 256, so 256, 0, 256 changes nothing
// (the stored default 255 darkens by one step). Values outside the ranges are clamped to them.
void AdjustBrightnessContrastSaturation(TBitmapView frame, int brightness, int contrast,
                                        int saturation);

// Exposure x (-255..512): positive lifts the middle tones towards white, negative pushes them
// towards black; black and white stay. Clamped to the range; NaN changes nothing.
void AdjustExposure(TBitmapView frame, float exposure);

// Writes `overlay` into `frame` with its top-left corner at (x, y), each channel becoming
// ((256 - alpha) * frame + alpha * overlay) >> 8. Parts outside the frame are cut off; alpha is
// clamped to 0..255. The two views must not overlap.
void AlphaBlend(TBitmapView frame, TConstBitmapView overlay, int x, int y, int alpha);

// The crop rectangle's outline, in green (red 0, green 128, blue 0). The rectangle spans
// columns cropLeft .. width - cropRight - 1 and rows cropTop .. height - cropBottom - 1; the
// 2-pixel pen covers its two outermost columns and rows on each side, inside the rectangle,
// so the inside keeps its pixels and nothing of the outline falls into the cut margins. What
// lies outside the frame is not drawn; an empty rectangle draws nothing.
void DrawCropOutline(TBitmapView frame, int cropLeft, int cropTop, int cropRight,
                     int cropBottom);

constexpr int kCropPenWidth = 2;
constexpr uint8_t kCropPenBlue = 0;
constexpr uint8_t kCropPenGreen = 128;
constexpr uint8_t kCropPenRed = 0;

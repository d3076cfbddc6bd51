// The watermark items and picture adjustments stored with a job, as plain values so the job
// record and the renderer need no toolkit types.
#pragma once

#include <cstdint>
#include <string>

// Colours are stored as one integer with red in the low byte, green next, then blue.
constexpr int32_t WmColor(int red, int green, int blue) {
  return static_cast<int32_t>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int WmColorRed(int32_t color) { return color & 0xFF; }
constexpr int WmColorGreen(int32_t color) { return (color >> 8) & 0xFF; }
constexpr int WmColorBlue(int32_t color) { return (color >> 16) & 0xFF; }

// The font of a text item, copied by value so an item never shares a font with the dialog.
struct TWmFont {
  std::string Face;
  int32_t Size = 0;  // points
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int32_t Color = 0;  // see WmColor

  bool operator==(const TWmFont&) const = default;
};

// Values of TWmRec::Kind.
constexpr int32_t kWmKindText = 0;
constexpr int32_t kWmKindImage = 1;

// One text or picture watermark of a job. Positions and sizes are pixels of the decoded source
// frame, before any crop or scaling of the output.
struct TWmRec {
  // Text item.
  std::string Text;
  TWmFont Font;
  int32_t TextX = 0;
  int32_t TextY = 0;
  int32_t TextWidth = 0;
  int32_t TextHeight = 0;
  int32_t TextOpacity = 0;    // 0 invisible .. 255 opaque
  int32_t BackColor = 0;      // see WmColor
  bool HasBackColor = false;  // false: the box is transparent

  // Picture item (a bitmap file).
  std::string ImagePath;
  int32_t ImageX = 0;
  int32_t ImageY = 0;
  int32_t ImageWidth = 0;
  int32_t ImageHeight = 0;
  int32_t ImageOpacity = 0;  // 0 .. 255

  int32_t Kind = kWmKindText;
  // Drawn while StartSecond <= t <= EndSecond, t being the frame time in whole seconds.
  int32_t StartSecond = 0;
  int32_t EndSecond = 0;

  bool operator==(const TWmRec&) const = default;
};

constexpr int32_t kWmOpacityMin = 0;
constexpr int32_t kWmOpacityMax = 255;

// Ranges and stored defaults of the four picture adjustments of a job. The stored defaults
// 255, 0, 255, 0 mean "no adjustment" and are skipped by the renderer's callers; the arithmetic
// itself is neutral at brightness and saturation 256.
constexpr int32_t kBrightnessMin = 0;
constexpr int32_t kBrightnessMax = 512;
constexpr int32_t kBrightnessDefault = 255;
constexpr int32_t kContrastMin = -100;
constexpr int32_t kContrastMax = 100;
constexpr int32_t kContrastDefault = 0;
constexpr int32_t kSaturationMin = 0;
constexpr int32_t kSaturationMax = 512;
constexpr int32_t kSaturationDefault = 255;
constexpr int32_t kExposureMin = -255;
constexpr int32_t kExposureMax = 512;
constexpr int32_t kExposureDefault = 0;

// Frames and pictures for the frame-hook tests.
#pragma once

#include <QColor>
#include <QImage>
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "editing/render/WaterMark.h"
#include "engine/Bitmap24.h"

using TBgr = std::array<uint8_t, 3>;

inline TBgr PixelAt(const TBitmap24& frame, int x, int y) {
  const uint8_t* p = frame.Row(y) + static_cast<size_t>(x) * 3;
  return {p[0], p[1], p[2]};
}

inline TBitmap24 FilledFrame(int width, int height, TBgr bgr) {
  TBitmap24 frame(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) std::copy(bgr.begin(), bgr.end(), frame.Row(y) + static_cast<size_t>(x) * 3);
  return frame;
}

// Writes a one-colour BMP; false when Qt cannot write it.
inline bool WriteBmp(const std::string& path, int width, int height, QColor color) {
  QImage image(width, height, QImage::Format_RGB888);
  image.fill(color);
  return image.save(QString::fromStdString(path), "BMP");
}

// What blending `over` onto `under` with alpha 255 gives: 255/256 of the overlay.
constexpr uint8_t Opaque255(uint8_t under, uint8_t over) { return static_cast<uint8_t>((under + 255 * over) >> 8); }

inline TWmRec TextItem(const std::string& text, int x, int y, int width, int height) {
  TWmRec item;
  item.Kind = kWmKindText;
  item.Text = text;
  item.TextX = x;
  item.TextY = y;
  item.TextWidth = width;
  item.TextHeight = height;
  item.TextOpacity = 255;
  item.Font.Size = 20;
  item.Font.Color = WmColor(255, 255, 255);
  item.StartSecond = 0;
  item.EndSecond = 1000;
  return item;
}

inline TWmRec PictureItem(const std::string& path, int x, int y) {
  TWmRec item;
  item.Kind = kWmKindImage;
  item.ImagePath = path;
  item.ImageX = x;
  item.ImageY = y;
  item.ImageOpacity = 255;
  item.StartSecond = 0;
  item.EndSecond = 1000;
  return item;
}

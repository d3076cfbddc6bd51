// The 24-bit picture handed to hooks and surfaces: rows of B, G, R bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class TBitmap24 {
 public:
  TBitmap24() = default;
  TBitmap24(int width, int height) { SetSize(width, height); }

  // Rows are 4-byte aligned, as in a device-independent bitmap. Keeps the buffer when the
  // size does not change.
  void SetSize(int width, int height) {
    if (width == Width && height == Height) return;
    Width = width > 0 ? width : 0;
    Height = height > 0 ? height : 0;
    Stride = (Width * 3 + 3) & ~3;
    Pixels.assign(static_cast<size_t>(Stride) * Height, 0);
  }
  void Clear() { std::fill(Pixels.begin(), Pixels.end(), uint8_t{0}); }

  int Width = 0;
  int Height = 0;
  int Stride = 0;
  std::vector<uint8_t> Pixels;

  uint8_t* Row(int y) { return Pixels.data() + static_cast<size_t>(y) * Stride; }
  const uint8_t* Row(int y) const { return Pixels.data() + static_cast<size_t>(y) * Stride; }
  bool Empty() const { return Width == 0 || Height == 0; }
};

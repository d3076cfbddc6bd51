// Non-owning windows on 24-bit pictures (three bytes per pixel: blue, green, red).
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/Bitmap24.h"

// Stride is the address difference from row 0 to row 1, so a bottom-up picture (the first line
// in memory is the bottom row) has Row0 at its last line in memory and a negative stride. The
// view never owns the pixels; |Stride| must be at least Width * 3.
template <class Byte>
struct TBasicBitmapView {
  static_assert(std::is_same_v<std::remove_const_t<Byte>, uint8_t>);

  Byte* Row0 = nullptr;
  int Width = 0;
  int Height = 0;
  ptrdiff_t Stride = 0;

  constexpr TBasicBitmapView() = default;
  constexpr TBasicBitmapView(Byte* row0, int width, int height, ptrdiff_t stride)
      : Row0(row0), Width(width), Height(height), Stride(stride) {}

  // Implicit on purpose: the routines take views, callers mostly hold TBitmap24.
  TBasicBitmapView(TBitmap24& bitmap)
    requires(!std::is_const_v<Byte>)
      : TBasicBitmapView(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, bitmap.Stride) {}
  TBasicBitmapView(const TBitmap24& bitmap)
    requires std::is_const_v<Byte>
      : TBasicBitmapView(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, bitmap.Stride) {}
  // A writable view can always be read.
  // (A template, so that it never stands in for the copy constructor.)
  template <class Other>
    requires(std::is_const_v<Byte> && std::is_same_v<Other, uint8_t>)
  constexpr TBasicBitmapView(const TBasicBitmapView<Other>& other)
      : TBasicBitmapView(other.Row0, other.Width, other.Height, other.Stride) {}

  // A picture stored bottom row first: `memory` is the first line in memory, `lineBytes` the
  // positive distance between lines in memory.
  static constexpr TBasicBitmapView BottomUp(Byte* memory, int width, int height,
                                             ptrdiff_t lineBytes) {
    Byte* row0 = height > 0 ? memory + static_cast<ptrdiff_t>(height - 1) * lineBytes : memory;
    return TBasicBitmapView(row0, width, height, -lineBytes);
  }

  constexpr Byte* Row(int y) const { return Row0 + static_cast<ptrdiff_t>(y) * Stride; }
  constexpr bool Empty() const { return Row0 == nullptr || Width <= 0 || Height <= 0; }
};

using TBitmapView = TBasicBitmapView<uint8_t>;
using TConstBitmapView = TBasicBitmapView<const uint8_t>;

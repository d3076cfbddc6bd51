#include "editing/render/FrameRender.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <numbers>

#include "editing/render/ByteMap.h"
#include "editing/render/WaterMark.h"

namespace {

inline int ClampByte(int64_t value) {
  return value < 0 ? 0 : value > 255 ? 255 : static_cast<int>(value);
}

// Independent of the floating-point rounding mode, which a media library may have changed.
double RoundHalfEven(double value) {
  double whole = std::floor(value);
  const double rest = value - whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return whole;
}

// Tables of the brightness-contrast-saturation pass. Per pixel with bytes B, G, R and
// n = B + G + R, each channel c becomes Mix[Grey[n] + Gain[c]]: Grey holds the grey offset
// (n div 3) - S[n div 3] shifted by kMixOffset, Gain the saturation gain S[c], and Mix folds
// the clamp to 0..255 into the brightness-contrast table L.
// With s clamped to 0..512 the grey offset lies in -257 (255 - S[255] at s = 512) .. 255 and
// the gain in 0..512.
constexpr int kMixOffset = 257;
constexpr int kMixSize = kMixOffset + 255 + 512 + 1;
struct TBcsTables {
  int32_t Grey[768];
  int32_t Gain[256];
  uint8_t Mix[kMixSize];
};

void BuildBcsTables(TBcsTables& t, int v, int a, int s) {
  if (a == 100) a = 99;  // 1 / cos(pi / 2) would be infinite
  const double k = a > 0 ? 1.0 / std::cos(a * std::numbers::pi / 200.0) : std::cos(a * 0.015708);
  uint8_t contrast[256];
  for (int i = 0; i < 256; ++i) {
    const double c = RoundHalfEven((i - 170) * k + 170.0);
    contrast[i] = static_cast<uint8_t>(c < 0.0 ? 0 : c > 255.0 ? 255 : static_cast<int>(c));
  }
  uint8_t level[256];
  // Integer division truncates towards zero, negative numerators included.
  for (int j = 0; j < 256; ++j) level[j] = contrast[ClampByte((v * j - v + 256) / 256)];
  for (int i = 0; i < 256; ++i) t.Gain[i] = static_cast<uint16_t>(((i + 1) * s) >> 8);
  for (int n = 0; n < 768; ++n) t.Grey[n] = n / 3 - t.Gain[n / 3] + kMixOffset;
  for (int m = 0; m < kMixSize; ++m) t.Mix[m] = level[ClampByte(m - kMixOffset)];
}

}  // namespace

void AdjustBrightnessContrastSaturation(TBitmapView frame, int brightness, int contrast,
                                        int saturation) {
  if (frame.Empty()) return;
  TBcsTables t;
  BuildBcsTables(t, std::clamp(brightness, kBrightnessMin, kBrightnessMax),
                 std::clamp(contrast, kContrastMin, kContrastMax),
                 std::clamp(saturation, kSaturationMin, kSaturationMax));
  const int width = frame.Width;
  for (int y = 0; y < frame.Height; ++y) {
    uint8_t* p = frame.Row(y);
    int x = 0;
    // Two pixels per step, all loads before the stores: a byte store may alias anything, so
    // the compiler would otherwise keep every load behind the previous store.
    for (; x + 2 <= width; x += 2, p += 6) {
      const unsigned b0 = p[0], g0 = p[1], r0 = p[2], b1 = p[3], g1 = p[4], r1 = p[5];
      const int grey0 = t.Grey[b0 + g0 + r0], grey1 = t.Grey[b1 + g1 + r1];
      const uint8_t nb0 = t.Mix[grey0 + t.Gain[b0]], ng0 = t.Mix[grey0 + t.Gain[g0]],
                    nr0 = t.Mix[grey0 + t.Gain[r0]], nb1 = t.Mix[grey1 + t.Gain[b1]],
                    ng1 = t.Mix[grey1 + t.Gain[g1]], nr1 = t.Mix[grey1 + t.Gain[r1]];
      p[0] = nb0, p[1] = ng0, p[2] = nr0, p[3] = nb1, p[4] = ng1, p[5] = nr1;
    }
    if (x < width) {
      const unsigned b = p[0], g = p[1], r = p[2];
      const int grey = t.Grey[b + g + r];
      p[0] = t.Mix[grey + t.Gain[b]];
      p[1] = t.Mix[grey + t.Gain[g]];
      p[2] = t.Mix[grey + t.Gain[r]];
    }
  }
}

void AdjustExposure(TBitmapView frame, float exposure) {
  if (frame.Empty() || std::isnan(exposure)) return;
  const double x = std::clamp(exposure, static_cast<float>(kExposureMin),
                              static_cast<float>(kExposureMax));
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) {
    const double t = (i / -128.0) * (x / 128.0);
    const auto r = static_cast<int64_t>(RoundHalfEven((1.0 - std::exp(t)) * 256.0));
    // Both products are non-negative, so the shifts are floor divisions.
    const int64_t e = x >= 0 ? i + ((r * (255 - i)) >> 8) : i - ((-r * (255 - i)) >> 8);
    table[i] = static_cast<uint8_t>(ClampByte(e));
  }
  MapPixelBytes(frame, table);
}

void AlphaBlend(TBitmapView frame, TConstBitmapView overlay, int x, int y, int alpha) {
  if (frame.Empty() || overlay.Empty()) return;
  // 64-bit so that positions near the int limits cannot wrap.
  const int64_t left = std::max<int64_t>(x, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + overlay.Width, frame.Width);
  const int64_t top = std::max<int64_t>(y, 0);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + overlay.Height, frame.Height);
  if (left >= right || top >= bottom) return;
  const unsigned a = static_cast<unsigned>(std::clamp(alpha, 0, 255));
  const unsigned keep = 256 - a;
  const ptrdiff_t bytes = static_cast<ptrdiff_t>(right - left) * 3;
  // Eight channels per step in two 64-bit words of four 16-bit lanes each. A lane holds at most
  // keep * 255 + a * 255 = 65280, so no lane carries into the next.
  constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
  for (int64_t fy = top; fy < bottom; ++fy) {
    uint8_t* f = frame.Row(static_cast<int>(fy)) + left * 3;
    const uint8_t* o = overlay.Row(static_cast<int>(fy - y)) + (left - x) * 3;
    ptrdiff_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
      uint64_t fw, ow;
      std::memcpy(&fw, f + i, 8);
      std::memcpy(&ow, o + i, 8);
      const uint64_t even = (((fw & kLanes) * keep + (ow & kLanes) * a) >> 8) & kLanes;
      const uint64_t odd = (((fw >> 8) & kLanes) * keep + ((ow >> 8) & kLanes) * a) & ~kLanes;
      const uint64_t out = even | odd;
      std::memcpy(f + i, &out, 8);
    }
    for (; i < bytes; ++i) f[i] = static_cast<uint8_t>((keep * f[i] + a * o[i]) >> 8);
  }
}

namespace {

void FillRect(TBitmapView frame, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  left = std::max<int64_t>(left, 0);
  top = std::max<int64_t>(top, 0);
  right = std::min<int64_t>(right, frame.Width);
  bottom = std::min<int64_t>(bottom, frame.Height);
  if (left >= right || top >= bottom) return;
  for (int64_t y = top; y < bottom; ++y) {
    uint8_t* p = frame.Row(static_cast<int>(y)) + left * 3;
    for (int64_t x = left; x < right; ++x, p += 3) {
      p[0] = kCropPenBlue;
      p[1] = kCropPenGreen;
      p[2] = kCropPenRed;
    }
  }
}

}  // namespace

void DrawCropOutline(TBitmapView frame, int cropLeft, int cropTop, int cropRight,
                     int cropBottom) {
  if (frame.Empty()) return;
  const int64_t left = cropLeft, top = cropTop;
  const int64_t right = int64_t{frame.Width} - cropRight;
  const int64_t bottom = int64_t{frame.Height} - cropBottom;
  if (left >= right || top >= bottom) return;
  const int64_t pen = kCropPenWidth;
  FillRect(frame, left, top, right, std::min(top + pen, bottom));
  FillRect(frame, left, std::max(bottom - pen, top), right, bottom);
  FillRect(frame, left, top, std::min(left + pen, right), bottom);
  FillRect(frame, std::max(right - pen, left), top, right, bottom);
}

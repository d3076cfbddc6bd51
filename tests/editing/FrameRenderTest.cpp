#include "editing/render/FrameRender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "editing/render/BitmapView.h"

namespace {

using TBgr = std::array<uint8_t, 3>;

// A picture in its own memory with a stride that is neither tight nor 4-aligned, optionally
// stored bottom row first. The bytes between rows hold a marker that no routine may touch.
class TPicture {
 public:
  static constexpr uint8_t kMarker = 0xA5;
  static constexpr int kPadding = 5;

  TPicture(int width, int height, bool bottomUp = false, int padding = kPadding)
      : Width(width), Height(height), LineBytes(width * 3 + padding), BottomUp(bottomUp),
        Memory(static_cast<size_t>(LineBytes) * height, kMarker) {
    for (int y = 0; y < height; ++y) std::fill_n(View().Row(y), width * 3, uint8_t{0});
  }
  TPicture(int width, int height, uint32_t seed, bool bottomUp = false) : TPicture(width, height, bottomUp) {
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
      for (int i = 0; i < width * 3; ++i) View().Row(y)[i] = static_cast<uint8_t>(random());
  }

  TBitmapView View() {
    return BottomUp ? TBitmapView::BottomUp(Memory.data(), Width, Height, LineBytes)
                    : TBitmapView(Memory.data(), Width, Height, LineBytes);
  }
  TBgr At(int x, int y) {
    const uint8_t* p = View().Row(y) + x * 3;
    return {p[0], p[1], p[2]};
  }
  void Set(int x, int y, TBgr bgr) { std::copy(bgr.begin(), bgr.end(), View().Row(y) + x * 3); }
  // Pixel bytes in row order, whatever the layout in memory.
  std::vector<uint8_t> Rows() {
    std::vector<uint8_t> rows;
    for (int y = 0; y < Height; ++y) rows.insert(rows.end(), View().Row(y), View().Row(y) + Width * 3);
    return rows;
  }
  bool PaddingIntact() const {
    for (int line = 0; line < Height; ++line)
      for (int i = Width * 3; i < LineBytes; ++i)
        if (Memory[static_cast<size_t>(line) * LineBytes + i] != kMarker) return false;
    return true;
  }

  int Width, Height, LineBytes;
  bool BottomUp;
  std::vector<uint8_t> Memory;
};

// The formulas written out directly, one pixel at a time, as the yardstick for the table-driven
// routines.
uint8_t Clamp(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }

void ReferenceBcs(TBitmapView frame, int v, int a, int s) {
  const int ka = a == 100 ? 99 : a;
  const double k = ka > 0 ? 1 / std::cos(ka * std::numbers::pi / 200) : std::cos(ka * 0.015708);
  auto gain = [s](int i) { return static_cast<uint16_t>(((i + 1) * s) >> 8); };
  auto level = [&](int j) {
    const int n = v * j - v + 256;
    const int b = Clamp(n >= 0 ? n >> 8 : (n + 255) >> 8);
    return Clamp(std::nearbyint((b - 170) * k + 170));
  };
  for (int y = 0; y < frame.Height; ++y)
    for (uint8_t* p = frame.Row(y); p < frame.Row(y) + frame.Width * 3; p += 3) {
      const int m = (p[0] + p[1] + p[2]) / 3;
      const int g = m - gain(m);
      for (int c = 0; c < 3; ++c) p[c] = level(Clamp(g + gain(p[c])));
    }
}

void ReferenceExposure(TBitmapView frame, float x) {
  for (int y = 0; y < frame.Height; ++y)
    for (uint8_t* p = frame.Row(y); p < frame.Row(y) + frame.Width * 3; ++p) {
      const int i = *p;
      const double t = (i / -128.0) * (x / 128.0);
      const auto r = static_cast<int64_t>(std::nearbyint((1 - std::exp(t)) * 256));
      *p = Clamp(static_cast<double>(x >= 0 ? i + ((r * (255 - i)) >> 8) : i - ((-r * (255 - i)) >> 8)));
    }
}

void ReferenceBlend(TBitmapView frame, TConstBitmapView overlay, int x, int y, int a) {
  for (int oy = 0; oy < overlay.Height; ++oy)
    for (int ox = 0; ox < overlay.Width; ++ox) {
      const int64_t fx = int64_t{x} + ox, fy = int64_t{y} + oy;
      if (fx < 0 || fy < 0 || fx >= frame.Width || fy >= frame.Height) continue;
      uint8_t* f = frame.Row(static_cast<int>(fy)) + fx * 3;
      const uint8_t* o = overlay.Row(oy) + ox * 3;
      for (int c = 0; c < 3; ++c) f[c] = static_cast<uint8_t>(((256 - a) * f[c] + a * o[c]) >> 8);
    }
}

// Every byte value in every channel position, so whole-table behaviour shows on one frame.
TPicture AllValues(bool bottomUp = false) {
  TPicture picture(256, 3, bottomUp);
  for (int x = 0; x < 256; ++x)
    for (int y = 0; y < 3; ++y)
      picture.Set(x, y, {static_cast<uint8_t>(x), static_cast<uint8_t>((x + 85 * y) & 255),
                         static_cast<uint8_t>(255 - x)});
  return picture;
}

TEST(BrightnessContrastSaturationTest, NeutralValuesChangeNothing) {
  TPicture picture(61, 17, 7u);
  const auto before = picture.Rows();
  AdjustBrightnessContrastSaturation(picture.View(), 256, 0, 256);
  AdjustExposure(picture.View(), 0.0f);
  EXPECT_EQ(picture.Rows(), before);
  TPicture all = AllValues();
  const auto allBefore = all.Rows();
  AdjustBrightnessContrastSaturation(all.View(), 256, 0, 256);
  AdjustExposure(all.View(), 0.0f);
  EXPECT_EQ(all.Rows(), allBefore);
  EXPECT_TRUE(picture.PaddingIntact() && all.PaddingIntact());
}

TEST(BrightnessContrastSaturationTest, ChosenPixels) {
  struct Case {
    int v, a, s;
    TBgr in, out;
  };
  const Case cases[] = {
      // The stored default 255 is not neutral: the brightness table maps 255 to 254.
      {255, 0, 256, {255, 255, 255}, {254, 254, 254}},
      {255, 0, 255, {255, 255, 255}, {254, 254, 254}},
      {255, 0, 256, {128, 0, 1}, {127, 0, 1}},
      // Brightness scales by v / 256 from an offset of one: 0 leaves 1 everywhere.
      {0, 0, 256, {0, 128, 255}, {1, 1, 1}},
      {512, 0, 256, {0, 100, 200}, {0, 199, 255}},
      // Contrast pivots on 170 with k = 1 / cos(99 pi / 200), about 63.66; 100 acts as 99.
      {256, 99, 256, {171, 169, 172}, {234, 106, 255}},
      {256, 100, 256, {171, 169, 172}, {234, 106, 255}},
      {256, 100, 256, {168, 170, 167}, {43, 170, 0}},
      {256, -50, 256, {0, 255, 170}, {50, 230, 170}},
      // cos(100 x 0.015708) is about 0: everything goes to the pivot.
      {256, -100, 256, {0, 128, 255}, {170, 170, 170}},
      {512, -100, 0, {255, 255, 255}, {170, 170, 170}},
      // Saturation 0 leaves the grey (B + G + R) div 3 ...
      {256, 0, 0, {10, 20, 40}, {23, 23, 23}},
      {256, 0, 0, {255, 0, 1}, {85, 85, 85}},
      // ... which then passes the brightness table: b(60) = (128 x 60 - 128 + 256) div 256.
      {128, 0, 0, {30, 60, 90}, {30, 30, 30}},
      // Saturation 512 doubles each channel's distance from the grey.
      {256, 0, 512, {100, 50, 150}, {100, 0, 200}},
  };
  for (const Case& c : cases) {
    TPicture picture(1, 1);
    picture.Set(0, 0, c.in);
    AdjustBrightnessContrastSaturation(picture.View(), c.v, c.a, c.s);
    EXPECT_EQ(picture.At(0, 0), c.out) << c.v << " " << c.a << " " << c.s << " on "
                                       << int{c.in[0]} << "," << int{c.in[1]} << "," << int{c.in[2]};
  }
}

TEST(BrightnessContrastSaturationTest, ContrastLimitsOverWholeRange) {
  TPicture at100 = AllValues(), at99 = AllValues(), atMinus100 = AllValues();
  AdjustBrightnessContrastSaturation(at100.View(), 300, 100, 200);
  AdjustBrightnessContrastSaturation(at99.View(), 300, 99, 200);
  EXPECT_EQ(at100.Rows(), at99.Rows());
  AdjustBrightnessContrastSaturation(atMinus100.View(), 300, -100, 200);
  const auto rows = atMinus100.Rows();
  EXPECT_TRUE(std::all_of(rows.begin(), rows.end(), [](uint8_t b) { return b == 170; }));
}

TEST(BrightnessContrastSaturationTest, MatchesFormulasOnRandomFrames) {
  const std::array<int, 3> sets[] = {{255, 0, 255}, {0, -100, 0},   {512, 100, 512}, {300, 37, 180},
                                     {100, -63, 400}, {200, -1, 1}, {377, 64, 511},  {256, 1, 256},
                                     {1, 99, 257},    {511, -99, 3}};
  uint32_t seed = 1;
  for (const auto& [v, a, s] : sets) {
    for (bool bottomUp : {false, true}) {
      TPicture picture(67, 23, seed++, bottomUp), expected = picture;
      AdjustBrightnessContrastSaturation(picture.View(), v, a, s);
      ReferenceBcs(expected.View(), v, a, s);
      EXPECT_EQ(picture.Rows(), expected.Rows()) << v << " " << a << " " << s;
      EXPECT_TRUE(picture.PaddingIntact());
    }
    TPicture all = AllValues(), expected = AllValues();
    AdjustBrightnessContrastSaturation(all.View(), v, a, s);
    ReferenceBcs(expected.View(), v, a, s);
    EXPECT_EQ(all.Rows(), expected.Rows()) << v << " " << a << " " << s;
  }
}

TEST(BrightnessContrastSaturationTest, OutOfRangeValuesAreClamped) {
  const std::array<int, 6> pairs[] = {{-5, 0, 256, 0, 0, 256},       {900, 0, 256, 512, 0, 256},
                                      {256, 150, 256, 256, 100, 256}, {256, -150, 256, 256, -100, 256},
                                      {256, 0, -1, 256, 0, 0},        {256, 0, 2000, 256, 0, 512}};
  for (const auto& p : pairs) {
    TPicture given(40, 9, 3u), clamped = given;
    AdjustBrightnessContrastSaturation(given.View(), p[0], p[1], p[2]);
    AdjustBrightnessContrastSaturation(clamped.View(), p[3], p[4], p[5]);
    EXPECT_EQ(given.Rows(), clamped.Rows()) << p[0] << " " << p[1] << " " << p[2];
  }
}

TEST(ExposureTest, ChosenValues) {
  struct Case {
    float x;
    uint8_t in, out;
  };
  const Case cases[] = {{100, 128, 196}, {-100, 128, 0}, {100, 0, 0},   {100, 255, 255},
                        {-100, 0, 0},    {-100, 255, 255}, {512, 0, 0},  {512, 255, 255},
                        {-255, 0, 0},    {-255, 255, 255}, {0, 128, 128}};
  for (const Case& c : cases) {
    TPicture picture(1, 1);
    picture.Set(0, 0, {c.in, c.in, c.in});
    AdjustExposure(picture.View(), c.x);
    EXPECT_EQ(picture.At(0, 0), (TBgr{c.out, c.out, c.out})) << c.x << " on " << int{c.in};
  }
}

TEST(ExposureTest, MatchesFormulasOnRandomFrames) {
  const float values[] = {-255, -100, -37.25f, -0.5f, 0.25f, 1, 37.5f, 100, 255, 511.75f, 512};
  uint32_t seed = 100;
  for (float x : values) {
    for (bool bottomUp : {false, true}) {
      TPicture picture(53, 19, seed++, bottomUp), expected = picture;
      AdjustExposure(picture.View(), x);
      ReferenceExposure(expected.View(), x);
      EXPECT_EQ(picture.Rows(), expected.Rows()) << x;
      EXPECT_TRUE(picture.PaddingIntact());
    }
    TPicture all = AllValues(), expected = AllValues();
    AdjustExposure(all.View(), x);
    ReferenceExposure(expected.View(), x);
    EXPECT_EQ(all.Rows(), expected.Rows()) << x;
  }
}

TEST(ExposureTest, OutOfRangeIsClampedAndNanIgnored) {
  TPicture high(30, 7, 5u), atMax = high, low = high, atMin = high, nan = high;
  AdjustExposure(high.View(), 4000.0f);
  AdjustExposure(atMax.View(), 512.0f);
  EXPECT_EQ(high.Rows(), atMax.Rows());
  AdjustExposure(low.View(), -4000.0f);
  AdjustExposure(atMin.View(), -255.0f);
  EXPECT_EQ(low.Rows(), atMin.Rows());
  const auto before = nan.Rows();
  AdjustExposure(nan.View(), std::nanf(""));
  EXPECT_EQ(nan.Rows(), before);
}

// The same picture stored top-down and bottom-up must come out the same row for row.
TEST(LayoutTest, BottomUpMatchesTopDown) {
  TPicture topDown(45, 13, 11u), bottomUp(45, 13, true);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 45; ++x) bottomUp.Set(x, y, topDown.At(x, y));
  TPicture overlay(12, 6, 12u), overlayBottomUp(12, 6, true);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) overlayBottomUp.Set(x, y, overlay.At(x, y));

  for (TPicture* p : {&topDown, &bottomUp}) {
    AdjustBrightnessContrastSaturation(p->View(), 310, 22, 140);
    AdjustExposure(p->View(), 60.0f);
    AlphaBlend(p->View(), (p == &topDown ? overlay : overlayBottomUp).View(), 38, -2, 170);
    DrawCropOutline(p->View(), 3, 2, 4, 5);
  }
  EXPECT_EQ(topDown.Rows(), bottomUp.Rows());
  // Row 0 of a bottom-up picture is the last line in memory.
  EXPECT_EQ(bottomUp.View().Row(0), bottomUp.Memory.data() + 12 * bottomUp.LineBytes);
  EXPECT_TRUE(bottomUp.PaddingIntact());
}

TEST(LayoutTest, WorksOnBitmap24AndEmptyViews) {
  TBitmap24 bitmap(5, 2);  // stride 16: one padding byte per row
  bitmap.Pixels.assign(bitmap.Pixels.size(), 255);
  AdjustBrightnessContrastSaturation(bitmap, 255, 0, 255);
  EXPECT_EQ(bitmap.Row(1)[14], 254);
  EXPECT_EQ(bitmap.Row(1)[15], 255);  // padding untouched
  AdjustExposure(bitmap, 100.0f);
  AlphaBlend(bitmap, TConstBitmapView(bitmap.Row(0), 1, 1, bitmap.Stride), 0, 1, 0);

  TBitmap24 empty;
  AdjustBrightnessContrastSaturation(empty, 300, 50, 100);
  AdjustExposure(empty, -50.0f);
  AlphaBlend(empty, bitmap, 0, 0, 255);
  AlphaBlend(bitmap, empty, 0, 0, 255);
  DrawCropOutline(empty, 0, 0, 0, 0);
  EXPECT_EQ(bitmap.Row(0)[0], 254);
}

TEST(AlphaBlendTest, AlphaEndsAndMiddle) {
  TPicture overlay(6, 4, 21u);
  struct Case {
    int alpha;
    int (*expect)(int frame, int over);
  };
  const Case cases[] = {{0, [](int f, int) { return f; }},
                        {255, [](int f, int o) { return (255 * o + f) >> 8; }},
                        {128, [](int f, int o) { return (128 * f + 128 * o) >> 8; }},
                        {-20, [](int f, int) { return f; }},                      // clamped to 0
                        {300, [](int f, int o) { return (255 * o + f) >> 8; }}};  // clamped to 255
  for (const Case& c : cases) {
    TPicture frame(10, 8, 22u), before = frame;
    AlphaBlend(frame.View(), overlay.View(), 2, 3, c.alpha);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          const bool inside = x >= 2 && x < 8 && y >= 3 && y < 7;
          const int want = inside ? c.expect(before.At(x, y)[ch], overlay.At(x - 2, y - 3)[ch])
                                  : before.At(x, y)[ch];
          ASSERT_EQ(frame.At(x, y)[ch], want) << "alpha " << c.alpha << " at " << x << "," << y;
        }
  }
}

TEST(AlphaBlendTest, CutAtRightEdge) {
  TPicture frame(40, 6), overlay(25, 3);  // overlay black
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 40; ++x) frame.Set(x, y, {200, 100, 50});
  AlphaBlend(frame.View(), overlay.View(), 30, 1, 255);  // x = width - 10
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool covered = y >= 1 && y < 4 && x >= 30;  // column 29 stays
      EXPECT_EQ(frame.At(x, y), (covered ? TBgr{0, 0, 0} : TBgr{200, 100, 50})) << x << "," << y;
    }
  EXPECT_TRUE(frame.PaddingIntact());
}

TEST(AlphaBlendTest, ClippedPositionsMatchFormulas) {
  // Tight rows (no padding) so that any reach outside the pictures shows under AddressSanitizer.
  const std::array<int, 2> positions[] = {{0, 0},   {5, 4},     {-3, 2},    {4, -2},  {-7, -5},
                                          {14, 9},  {15, 2},    {2, 10},    {-8, 0},  {0, -6},
                                          {-100, 3}, {3, -100}, {-2147483647, 0}, {2147483647, 2147483647},
                                          {-4, -3}};
  for (bool overlayBottomUp : {false, true}) {
    TPicture overlay(8, 6, overlayBottomUp, 0);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x)
        overlay.Set(x, y, {static_cast<uint8_t>(x * 30), static_cast<uint8_t>(y * 40), 200});
    int alpha = 1;
    for (const auto& [x, y] : positions) {
      alpha = (alpha * 7 + 40) % 256;  // a spread of alphas over the positions
      TPicture frame(15, 10, false, 0);
      for (int fy = 0; fy < 10; ++fy)
        for (int fx = 0; fx < 15; ++fx)
          frame.Set(fx, fy, {90, static_cast<uint8_t>(fx * 17), static_cast<uint8_t>(fy * 25)});
      TPicture expected = frame;
      AlphaBlend(frame.View(), overlay.View(), x, y, alpha);
      ReferenceBlend(expected.View(), overlay.View(), x, y, alpha);
      EXPECT_EQ(frame.Rows(), expected.Rows()) << x << "," << y << " alpha " << alpha;
    }
  }
}

TEST(CropOutlineTest, PenCoversTwoPixelsInsideTheRectangle) {
  struct Case {
    int left, top, right, bottom;
  };
  // On a 14 x 11 frame.
  const Case cases[] = {
      {0, 0, 0, 0},     // the frame's own border
      {2, 1, 3, 2},     // columns 2..10, rows 1..8
      {5, 3, 6, 4},     // 3 x 4: the strokes overlap and fill it
      {6, 5, 7, 5},     // 1 x 1
      {-1, -3, -2, 0},  // partly outside: only the strokes inside the frame show
      {7, 0, 7, 0},     // empty: left = right
      {0, 6, 0, 6},     // empty: top > bottom
      {20, 0, 0, 0},    // outside to the right
  };
  const TBgr pen{kCropPenBlue, kCropPenGreen, kCropPenRed};
  for (bool bottomUp : {false, true}) {
    for (const Case& c : cases) {
      TPicture frame(14, 11, 41u, bottomUp), before = frame;
      DrawCropOutline(frame.View(), c.left, c.top, c.right, c.bottom);
      const int r = 14 - c.right, b = 11 - c.bottom;
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 14; ++x) {
          const bool inRect = x >= c.left && x < r && y >= c.top && y < b;
          const bool onPen = inRect && (x < c.left + 2 || x >= r - 2 || y < c.top + 2 || y >= b - 2);
          ASSERT_EQ(frame.At(x, y), onPen ? pen : before.At(x, y))
              << c.left << " " << c.top << " " << c.right << " " << c.bottom << " at " << x << "," << y;
        }
      EXPECT_TRUE(frame.PaddingIntact());
    }
  }
  // The explicit shape of one case, so the rule above cannot drift with the code.
  TPicture small(6, 5, false, 0);
  DrawCropOutline(small.View(), 0, 0, 0, 0);
  const char* expected[] = {"######", "######", "##..##", "######", "######"};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(small.At(x, y) == pen, expected[y][x] == '#') << x << "," << y;
}

}  // namespace

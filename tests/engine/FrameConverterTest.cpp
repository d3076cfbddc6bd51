#include "engine/FFmpegFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "TestMedia.h"

namespace {

bool IsChromaPlane(const AVPixFmtDescriptor* desc, int plane) {
  return plane > 0 && plane < 3 && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
}

// The bytes of one row of `plane` that hold pixels (the rest of a line is padding).
int RowBytes(const AVPixFmtDescriptor* desc, int plane, int width) {
  int bytes = 0;
  for (int c = 0; c < desc->nb_components; ++c) {
    const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int w = chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
    if (desc->comp[c].plane == plane) bytes = std::max(bytes, w * desc->comp[c].step);
  }
  return bytes;
}

int PlaneRows(const AVPixFmtDescriptor* desc, int plane, int height) {
  return IsChromaPlane(desc, plane) ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
}

// A picture of `format` with a different byte pattern in every plane.
TFrame Picture(AVPixelFormat format, int width, int height) {
  TFrame frame(Lib.av_frame_alloc());
  frame->width = width;
  frame->height = height;
  frame->format = format;
  if (Lib.av_frame_get_buffer(frame.get(), 0) < 0) return TFrame();
  const AVPixFmtDescriptor* desc = Lib.av_pix_fmt_desc_get(format);
  for (int p = 0; p < 4 && frame->data[p]; ++p)
    for (int y = 0; y < PlaneRows(desc, p, height); ++y)
      for (int x = 0; x < RowBytes(desc, p, width); ++x)
        frame->data[p][y * frame->linesize[p] + x] = static_cast<uint8_t>(x * 7 + y * 13 + p * 50);
  return frame;
}

// The first and one past the last picture row whose bytes differ between a and b, in any
// plane (a chroma row counts for the picture rows it covers).
std::pair<int, int> ChangedRows(const AVFrame* a, const AVFrame* b) {
  const AVPixFmtDescriptor* desc = Lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format));
  int first = a->height, last = 0;
  for (int p = 0; p < 4 && a->data[p]; ++p) {
    const int shift = IsChromaPlane(desc, p) ? desc->log2_chroma_h : 0;
    for (int y = 0; y < PlaneRows(desc, p, a->height); ++y)
      if (std::memcmp(a->data[p] + y * a->linesize[p], b->data[p] + y * b->linesize[p],
                      RowBytes(desc, p, a->width)) != 0) {
        first = std::min(first, y << shift);
        last = std::max(last, std::min(a->height, (y + 1) << shift));
      }
  }
  return {first, std::max(first, last)};
}

// A hook that changes nothing leaves the picture untouched, and one that paints a band
// changes only the rows of that band, widened to whole chroma rows: for planar, semi-planar,
// packed and alpha formats, an odd height whose band reaches the last row, and bands of
// different heights one after the other through the same converter.
TEST(FrameConverterTest, OnlyTheRowsAHookChangedAreWrittenBack) {
  RequireConverterLibraries();
  struct TCase {
    AVPixelFormat Format;
    int ChromaRows;  // picture rows per chroma row
  };
  const TCase cases[] = {
      {AV_PIX_FMT_YUV420P, 2}, {AV_PIX_FMT_YUV422P, 1}, {AV_PIX_FMT_NV12, 2},
      {AV_PIX_FMT_YUYV422, 1}, {AV_PIX_FMT_YUVA420P, 2}, {AV_PIX_FMT_GRAY8, 1},
  };
  const std::pair<int, int> bands[] = {{7, 13}, {40, 47}, {0, 3}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(Lib.av_get_pix_fmt_name(c.Format));
    TFrame original = Picture(c.Format, 64, 47);
    ASSERT_TRUE(original);
    TFrameConverter converter;

    TFrame untouched(Lib.av_frame_clone(original.get()));
    ASSERT_NE(converter.ToBitmap(untouched.get()), nullptr);
    ASSERT_TRUE(converter.FromBitmap(untouched.get()));
    EXPECT_EQ(untouched->data[0], original->data[0]) << "an untouched picture is not even copied";

    for (const auto& [from, to] : bands) {
      SCOPED_TRACE(from);
      TFrame painted(Lib.av_frame_clone(original.get()));
      TBitmap24* bitmap = converter.ToBitmap(painted.get());
      ASSERT_NE(bitmap, nullptr);
      for (int y = from; y < to; ++y) std::fill_n(bitmap->Row(y), bitmap->Width * 3, uint8_t{255});
      ASSERT_TRUE(converter.FromBitmap(painted.get()));
      const auto [first, last] = ChangedRows(original.get(), painted.get());
      EXPECT_EQ(first, from - from % c.ChromaRows);
      EXPECT_EQ(last, std::min(47, (to + c.ChromaRows - 1) / c.ChromaRows * c.ChromaRows));
      const TBitmap24* again = converter.ToBitmap(painted.get());
      ASSERT_NE(again, nullptr);
      EXPECT_GE(again->Row(from)[30], 240) << "the band reads back white";
      EXPECT_GE(again->Row(to - 1)[30], 240);
    }
  }
}

}  // namespace

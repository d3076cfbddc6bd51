#include "engine/FFmpegFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/FFmpegLoader.h"

namespace {

bool IsChromaPlane(const AVPixFmtDescriptor* desc, int plane) {
  return plane > 0 && plane < 3 && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
}

// A 64x48 picture of `format` with a different byte pattern in every plane.
TFrame Picture(AVPixelFormat format) {
  TFrame frame(Lib.av_frame_alloc());
  frame->width = 64;
  frame->height = 48;
  frame->format = format;
  if (Lib.av_frame_get_buffer(frame.get(), 0) < 0) return TFrame();
  const AVPixFmtDescriptor* desc = Lib.av_pix_fmt_desc_get(format);
  for (int p = 0; p < 4 && frame->data[p]; ++p) {
    const int rows = IsChromaPlane(desc, p) ? 48 >> desc->log2_chroma_h : 48;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < frame->linesize[p]; ++x)
        frame->data[p][y * frame->linesize[p] + x] = static_cast<uint8_t>(x * 7 + y * 13 + p * 50);
  }
  return frame;
}

// The rows of the bytes of every plane that differ between two pictures, as luma rows.
std::vector<bool> ChangedRows(const AVFrame* a, const AVFrame* b) {
  std::vector<bool> changed(a->height, false);
  const AVPixFmtDescriptor* desc = Lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format));
  const int chromaH = desc->log2_chroma_h;
  for (int p = 0; p < 4 && a->data[p]; ++p) {
    const bool chroma = IsChromaPlane(desc, p);
    const int rows = chroma ? AV_CEIL_RSHIFT(a->height, chromaH) : a->height;
    for (int y = 0; y < rows; ++y)
      if (std::memcmp(a->data[p] + y * a->linesize[p], b->data[p] + y * b->linesize[p],
                      std::min(a->linesize[p], b->linesize[p])) != 0)
        for (int r = chroma ? y << chromaH : y; r < (chroma ? (y + 1) << chromaH : y + 1) && r < a->height; ++r)
          changed[r] = true;
  }
  return changed;
}

// A hook that changes nothing leaves the picture's bytes as they were, and one that paints a
// band changes only the rows of that band (widened to whole chroma rows), for planar,
// semi-planar and packed formats.
TEST(FrameConverterTest, OnlyTheRowsAHookChangedAreWrittenBack) {
  ASSERT_TRUE(TFFmpegLoader::Instance().Load(ConverterLibraries));
  struct TCase {
    AVPixelFormat Format;
    int First, Last;  // the luma rows expected to change for a band painted over rows 7..12
  };
  const TCase cases[] = {
      {AV_PIX_FMT_YUV420P, 6, 14}, {AV_PIX_FMT_YUV422P, 7, 13}, {AV_PIX_FMT_NV12, 6, 14},
      {AV_PIX_FMT_YUYV422, 7, 13}, {AV_PIX_FMT_YUVA420P, 6, 14}, {AV_PIX_FMT_GRAY8, 7, 13},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(Lib.av_get_pix_fmt_name(c.Format));
    TFrame original = Picture(c.Format);
    ASSERT_TRUE(original);
    TFrameConverter converter;

    TFrame untouched(Lib.av_frame_clone(original.get()));
    ASSERT_NE(converter.ToBitmap(untouched.get()), nullptr);
    ASSERT_TRUE(converter.FromBitmap(untouched.get()));
    EXPECT_EQ(untouched->data[0], original->data[0]) << "an untouched picture is not even copied";

    TFrame painted(Lib.av_frame_clone(original.get()));
    TBitmap24* bitmap = converter.ToBitmap(painted.get());
    ASSERT_NE(bitmap, nullptr);
    for (int y = 7; y < 13; ++y) std::fill_n(bitmap->Row(y), bitmap->Width * 3, uint8_t{255});
    ASSERT_TRUE(converter.FromBitmap(painted.get()));
    const std::vector<bool> changed = ChangedRows(original.get(), painted.get());
    const int first = static_cast<int>(std::find(changed.begin(), changed.end(), true) - changed.begin());
    const int last = static_cast<int>(changed.rend() - std::find(changed.rbegin(), changed.rend(), true));
    EXPECT_EQ(first, c.First);
    EXPECT_EQ(last, c.Last);
    // The painted band reads back white.
    const TBitmap24* again = converter.ToBitmap(painted.get());
    ASSERT_NE(again, nullptr);
    EXPECT_GE(again->Row(9)[30], 240);
  }
}

}  // namespace

#include "FFmpegFrames.h"

#include <algorithm>
#include <cstring>

TFrameConverter::TDirection::~TDirection() {
  if (Context) Lib.sws_freeContext(Context);
}

bool TFrameConverter::TDirection::Prepare(int width, int height, int format, bool toBgr) {
  if (Context && width == Width && height == Height && format == Format) return true;
  const auto pixel = static_cast<AVPixelFormat>(format);
  // Back to the encoder's format a bicubic scaler keeps the drawn edges clean.
  Context = Lib.sws_getCachedContext(Context, width, height, toBgr ? pixel : AV_PIX_FMT_BGR24, width, height,
                                     toBgr ? AV_PIX_FMT_BGR24 : pixel, SWS_BICUBIC, nullptr, nullptr, nullptr);
  Width = width;
  Height = height;
  Format = format;
  return Context != nullptr;
}

bool TFrameConverter::Convert(TDirection& d, const AVFrame* frame, TBitmap24& bitmap) {
  if (!d.Prepare(frame->width, frame->height, frame->format, true)) return false;
  bitmap.SetSize(frame->width, frame->height);
  uint8_t* dst[4] = {bitmap.Pixels.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {bitmap.Stride, 0, 0, 0};
  return Lib.sws_scale(d.Context, frame->data, frame->linesize, 0, frame->height, dst, dstStride) > 0;
}

TBitmap24* TFrameConverter::ToBitmap(const AVFrame* frame) {
  if (!Convert(ToBgr, frame, Bitmap)) return nullptr;
  Original = Bitmap.Pixels;
  return &Bitmap;
}

const TBitmap24* TFrameConverter::ToPreviewBitmap(const AVFrame* frame) {
  return Convert(PreviewBgr, frame, Preview) ? &Preview : nullptr;
}

std::pair<int, int> TFrameConverter::ChangedRows() const {
  if (Original.size() != Bitmap.Pixels.size()) return {0, Bitmap.Height};
  const size_t rowBytes = static_cast<size_t>(Bitmap.Width) * 3;
  auto differs = [&](int y) {
    const size_t at = static_cast<size_t>(y) * Bitmap.Stride;
    return std::memcmp(Original.data() + at, Bitmap.Pixels.data() + at, rowBytes) != 0;
  };
  int first = 0, last = Bitmap.Height;
  while (first < last && !differs(first)) ++first;
  while (last > first && !differs(last - 1)) --last;
  return {first, last};
}

bool TFrameConverter::FromBitmap(AVFrame* frame) {
  if (Bitmap.Width != frame->width || Bitmap.Height != frame->height) return false;
  auto [first, last] = ChangedRows();
  if (first == last) return true;
  const AVPixFmtDescriptor* desc = Lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (!desc) return false;
  // A band must start and end on whole chroma rows. Palette and bit-packed formats are simply
  // converted whole: they are rare here and not worth the special row arithmetic.
  const int chromaRows = 1 << desc->log2_chroma_h;
  if (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) {
    first = 0;
    last = frame->height;
  } else {
    first -= first % chromaRows;
    last = std::min(frame->height, (last + chromaRows - 1) / chromaRows * chromaRows);
  }
  if (Lib.av_frame_make_writable(frame) < 0) return false;
  if (!FromBgr.Prepare(frame->width, last - first, frame->format, false)) return false;
  uint8_t* dst[4] = {};
  bool chroma[4] = {};
  if (!(desc->flags & AV_PIX_FMT_FLAG_RGB))
    for (int c = 1; c <= 2 && c < desc->nb_components; ++c)
      if (desc->comp[c].plane != desc->comp[0].plane) chroma[desc->comp[c].plane] = true;
  for (int p = 0; p < 4 && frame->data[p]; ++p) {
    const int row = chroma[p] ? first >> desc->log2_chroma_h : first;
    dst[p] = frame->data[p] + static_cast<ptrdiff_t>(row) * frame->linesize[p];
  }
  const uint8_t* src[4] = {Bitmap.Row(first), nullptr, nullptr, nullptr};
  const int srcStride[4] = {Bitmap.Stride, 0, 0, 0};
  return Lib.sws_scale(FromBgr.Context, src, srcStride, 0, last - first, dst, frame->linesize) > 0;
}

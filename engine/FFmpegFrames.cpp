#include "FFmpegFrames.h"

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
  return Convert(ToBgr, frame, Bitmap) ? &Bitmap : nullptr;
}

const TBitmap24* TFrameConverter::ToPreviewBitmap(const AVFrame* frame) {
  return Convert(PreviewBgr, frame, Preview) ? &Preview : nullptr;
}

bool TFrameConverter::FromBitmap(AVFrame* frame) {
  if (Bitmap.Width != frame->width || Bitmap.Height != frame->height) return false;
  if (Lib.av_frame_make_writable(frame) < 0) return false;
  if (!FromBgr.Prepare(frame->width, frame->height, frame->format, false)) return false;
  const uint8_t* src[4] = {Bitmap.Pixels.data(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {Bitmap.Stride, 0, 0, 0};
  return Lib.sws_scale(FromBgr.Context, src, srcStride, 0, frame->height, frame->data, frame->linesize) > 0;
}

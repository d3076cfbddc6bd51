// Conversions between decoded pictures and the 24-bit bitmaps hooks and previews work on.
// The scaler contexts and bitmaps are kept from frame to frame and rebuilt only when the
// picture's size or format changes.
#pragma once

#include <utility>
#include <vector>

#include "Bitmap24.h"
#include "FFmpegRAII.h"

class TFrameConverter {
 public:
  // The picture as a bitmap of its own size; null when no conversion context can be made.
  TBitmap24* ToBitmap(const AVFrame* frame);
  // Writes the bitmap of the last ToBitmap back into the picture; false on failure. Only the
  // band of rows the hook changed is converted back, and an untouched bitmap leaves the picture
  // as it was: the round trip through 24 bits costs time and loses a little colour.
  bool FromBitmap(AVFrame* frame);
  // A separate bitmap for previews, so a hook's bitmap is never overwritten by one.
  const TBitmap24* ToPreviewBitmap(const AVFrame* frame);

 private:
  struct TDirection {
    SwsContext* Context = nullptr;
    int Width = 0, Height = 0, Format = -1;
    ~TDirection();
    bool Prepare(int width, int height, int format, bool toBgr);
  };
  // The rows [first, last) in which Bitmap differs from what ToBitmap made; first == last when
  // nothing changed.
  std::pair<int, int> ChangedRows() const;
  static bool Convert(TDirection& d, const AVFrame* frame, TBitmap24& bitmap);
  TDirection ToBgr, FromBgr, PreviewBgr;
  TBitmap24 Bitmap, Preview;
  std::vector<uint8_t> Original;  // Bitmap's pixels as ToBitmap left them
};

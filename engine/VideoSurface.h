// Where the engine's pictures are shown: a panel of the host (the player's output, the
// converter's floating previewer). The host paints the latest picture on its main thread.
#pragma once

#include <cstdint>
#include <string>

#include "Bitmap24.h"

struct TSurfaceSize {
  int Width = 0;
  int Height = 0;
};

class VideoSurface {
 public:
  virtual ~VideoSurface() = default;
  // Called from the engine's threads. The surface copies what it needs before returning.
  // `timeUs` is the picture's time in microseconds (AV_NOPTS_VALUE when unknown).
  virtual void present(const TBitmap24& frame, int64_t timeUs) = 0;
  // Paints the background only, for example after a file was closed.
  virtual void clear() = 0;
  // The size of the area the picture is fitted into.
  virtual TSurfaceSize clientSize() const = 0;
  // Text subtitles due with the pictures presented from now on ("" for none; lines end with
  // "\n"). The engine has no fonts, so the host draws them over the picture. clear() drops
  // them too.
  virtual void setSubtitleText(const std::string& text) { (void)text; }
};

// Draws one job's picture adjustments and watermark items into the frames of its conversion.
#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "conversion/run/JobRecord.h"
#include "engine/Bitmap24.h"

// Text items are drawn with Qt's painter, so a QGuiApplication must exist (it may live on
// another thread) for as long as Render is called. Render may be called from any thread, from
// several at once: the caches are shared under one lock, the drawing into each frame is done
// outside it.
class TJobFrameRenderer {
 public:
  // For `frame` at `ptsMicroseconds` of the source: the adjustments unless they are the stored
  // neutral set (255, 0, 255, 0), then the items in array order whose StartSecond <= t <=
  // EndSecond, t being the time in whole seconds. A picture that cannot be read is skipped and
  // logged once per path.
  void Render(const TlvFilesRecord& job, TBitmap24& frame, int64_t ptsMicroseconds);

  // How often a text box was laid out and a picture file decoded.
  struct TWork {
    int TextBoxes = 0;
    int PictureDecodes = 0;
  };
  TWork Work() const;

 private:
  // The part of an item's box that lies on the frame: Left/Top in frame pixels, OffsetX/Y
  // where it starts inside the box.
  struct TVisible {
    int Left, Top, OffsetX, OffsetY, Width, Height;
    auto operator<=>(const TVisible&) const = default;
  };
  // What a text box looks like: everything that changes its pixels.
  using TTextKey = std::tuple<std::string, std::string, int, int, int, int, int, bool, int, TVisible>;
  // The text's glyphs on a transparent layer, or the finished opaque box with a background.
  struct TTextBox {
    QImage Glyphs;
    std::shared_ptr<const TBitmap24> Opaque;
  };
  using TPictureKey = std::tuple<int, int, TVisible>;  // scaled size, visible part
  struct TPicture {
    std::uintmax_t FileSize = 0;
    std::filesystem::file_time_type Modified;
    QImage Decoded;  // null: the file could not be read
    std::map<TPictureKey, std::shared_ptr<const TBitmap24>> Overlays;
  };

  // The part of a width x height box at (x, y) that lies on the frame; none when nothing does.
  static std::optional<TVisible> Clip(int x, int y, int width, int height, const TBitmap24& frame);
  void DrawText(const TWmRec& item, TBitmap24& frame);
  void DrawPicture(const TWmRec& item, TBitmap24& frame);
  std::shared_ptr<const TTextBox> TextBox(const TWmRec& item, const TVisible& visible);
  // The overlay of a picture item, null when its file cannot be read; `failure` gets the text
  // to log when this is the path's first failure.
  std::shared_ptr<const TBitmap24> PictureOverlay(const TWmRec& item, TVisible& visible, const TBitmap24& frame,
                                                  std::string& failure);

  mutable std::mutex CacheMutex;
  std::map<TTextKey, std::shared_ptr<const TTextBox>> TextBoxes;
  std::map<std::string, TPicture> Pictures;
  std::set<std::string> ReportedPaths;
  TWork Done;
};

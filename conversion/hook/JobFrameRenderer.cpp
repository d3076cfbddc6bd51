#include "conversion/hook/JobFrameRenderer.h"

#include <QColor>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <optional>
#include <system_error>

#include "conversion/hook/WmText.h"
#include "editing/render/FrameRender.h"
#include "engine/FFmpegLogger.h"

namespace {

// Caches stay small: a run has a handful of items per job. Past these sizes they start over.
constexpr size_t kMaxTextBoxes = 64;
constexpr size_t kMaxPictures = 32;
constexpr size_t kMaxOverlaysPerPicture = 8;

// A QImage over the bitmap's own pixels (blue, green, red bytes, as TBitmap24 keeps them).
QImage Wrap(TBitmap24& bitmap) {
  QImage image(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, bitmap.Stride, QImage::Format_BGR888);
  SetWmTextResolution(image);
  return image;
}

QColor ToQColor(int32_t color) { return QColor(WmColorRed(color), WmColorGreen(color), WmColorBlue(color)); }

}  // namespace

std::optional<TJobFrameRenderer::TVisible> TJobFrameRenderer::Clip(int x, int y, int width, int height,
                                                                  const TBitmap24& frame) {
  const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + width, frame.Width);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + height, frame.Height);
  if (width <= 0 || height <= 0 || left >= right || top >= bottom) return std::nullopt;
  return TVisible{static_cast<int>(left),  static_cast<int>(top),           static_cast<int>(left - x),
                  static_cast<int>(top - y), static_cast<int>(right - left), static_cast<int>(bottom - top)};
}

void TJobFrameRenderer::Render(const TlvFilesRecord& job, TBitmap24& frame, int64_t ptsMicroseconds) {
  if (frame.Empty()) return;
  // The stored neutral values are skipped, not applied: 255 is not quite neutral arithmetic.
  if (job.Brightness != kBrightnessDefault || job.Contrast != kContrastDefault || job.Saturation != kSaturationDefault)
    AdjustBrightnessContrastSaturation(frame, job.Brightness, job.Contrast, job.Saturation);
  if (job.Exposure != kExposureDefault) AdjustExposure(frame, static_cast<float>(job.Exposure));
  const int64_t second = ptsMicroseconds / 1000000;  // truncates, as the items' times do
  for (const TWmRec& item : job.Watermarks) {
    if (second < item.StartSecond || second > item.EndSecond) continue;
    if (item.Kind == kWmKindText && !item.Text.empty())
      DrawText(item, frame);
    else if (item.Kind == kWmKindImage && !item.ImagePath.empty())
      DrawPicture(item, frame);
  }
}

TJobFrameRenderer::TWork TJobFrameRenderer::Work() const {
  std::lock_guard lock(CacheMutex);
  return Done;
}

void TJobFrameRenderer::DrawText(const TWmRec& item, TBitmap24& frame) {
  const std::optional<TVisible> visible = Clip(item.TextX, item.TextY, item.TextWidth, item.TextHeight, frame);
  if (!visible) return;
  const std::shared_ptr<const TTextBox> box = TextBox(item, *visible);
  if (box->Opaque) {
    AlphaBlend(frame, *box->Opaque, visible->Left, visible->Top, item.TextOpacity);
    return;
  }
  // Without a background the box starts as the frame under it, so blending it changes only
  // the glyphs.
  TBitmap24 under(visible->Width, visible->Height);
  for (int y = 0; y < visible->Height; ++y)
    std::copy_n(frame.Row(visible->Top + y) + static_cast<size_t>(visible->Left) * 3,
                static_cast<size_t>(visible->Width) * 3, under.Row(y));
  {
    QImage target = Wrap(under);
    QPainter painter(&target);
    painter.drawImage(0, 0, box->Glyphs);
  }
  AlphaBlend(frame, under, visible->Left, visible->Top, item.TextOpacity);
}

std::shared_ptr<const TJobFrameRenderer::TTextBox> TJobFrameRenderer::TextBox(const TWmRec& item,
                                                                             const TVisible& visible) {
  const TWmFont& f = item.Font;
  const int style = (f.Bold ? 1 : 0) | (f.Italic ? 2 : 0) | (f.Underline ? 4 : 0) | (f.StrikeOut ? 8 : 0);
  TTextKey key{item.Text,         f.Face,   f.Size, style, f.Color, item.TextWidth, item.TextHeight,
               item.HasBackColor, item.HasBackColor ? item.BackColor : 0, visible};
  std::lock_guard lock(CacheMutex);
  if (const auto found = TextBoxes.find(key); found != TextBoxes.end()) return found->second;

  // Only the visible part is drawn: the box is moved so that part lands at (0, 0).
  auto box = std::make_shared<TTextBox>();
  QImage glyphs(visible.Width, visible.Height, QImage::Format_ARGB32_Premultiplied);
  SetWmTextResolution(glyphs);
  glyphs.fill(Qt::transparent);
  {
    QPainter painter(&glyphs);
    painter.setFont(WmQFont(f));
    painter.setPen(ToQColor(f.Color));
    painter.drawText(QRect(-visible.OffsetX, -visible.OffsetY, item.TextWidth, item.TextHeight), kWmTextFlags,
                     WmQText(item.Text));
  }
  if (item.HasBackColor) {
    auto opaque = std::make_shared<TBitmap24>(visible.Width, visible.Height);
    QImage target = Wrap(*opaque);
    target.fill(ToQColor(item.BackColor));
    QPainter painter(&target);
    painter.drawImage(0, 0, glyphs);
    box->Opaque = std::move(opaque);
  } else {
    box->Glyphs = std::move(glyphs);
  }
  ++Done.TextBoxes;
  if (TextBoxes.size() >= kMaxTextBoxes) TextBoxes.clear();
  return TextBoxes.emplace(std::move(key), std::move(box)).first->second;
}

void TJobFrameRenderer::DrawPicture(const TWmRec& item, TBitmap24& frame) {
  TVisible visible{};
  std::string failure;
  const std::shared_ptr<const TBitmap24> overlay = PictureOverlay(item, visible, frame, failure);
  // Logged outside the lock: the log handler may wait for the main thread.
  if (!failure.empty()) TFFLogger::Instance().Log(this, llWarning, failure);
  if (overlay) AlphaBlend(frame, *overlay, visible.Left, visible.Top, item.ImageOpacity);
}

std::shared_ptr<const TBitmap24> TJobFrameRenderer::PictureOverlay(const TWmRec& item, TVisible& visible,
                                                                  const TBitmap24& frame, std::string& failure) {
  // The file is looked at every frame, so a picture changed during a run is taken up; it is
  // decoded again only when its size or time of change differ.
  namespace fs = std::filesystem;
  const fs::path path(item.ImagePath);
  std::error_code sizeError, timeError;
  const std::uintmax_t size = fs::file_size(path, sizeError);
  const fs::file_time_type modified = fs::last_write_time(path, timeError);

  std::lock_guard lock(CacheMutex);
  const auto fail = [&](const char* why) -> std::shared_ptr<const TBitmap24> {
    if (ReportedPaths.insert(item.ImagePath).second)
      failure = "Cannot draw the picture watermark \"" + item.ImagePath + "\": " + why;
    return nullptr;
  };
  if (sizeError || timeError) {
    Pictures.erase(item.ImagePath);
    return fail("the file cannot be found");
  }
  auto entry = Pictures.find(item.ImagePath);
  if (entry == Pictures.end() || entry->second.FileSize != size || entry->second.Modified != modified) {
    if (entry == Pictures.end() && Pictures.size() >= kMaxPictures) Pictures.clear();
    entry = Pictures.insert_or_assign(item.ImagePath, TPicture{size, modified, {}, {}}).first;
    const QImage decoded = QImageReader(QString::fromStdString(item.ImagePath)).read();
    if (!decoded.isNull()) entry->second.Decoded = decoded.convertToFormat(QImage::Format_BGR888);
    ++Done.PictureDecodes;
  }
  TPicture& picture = entry->second;
  if (picture.Decoded.isNull()) return fail("the file is not a picture that can be read");

  // Drawn at the item's size when it has one, else at the picture's own.
  const bool sized = item.ImageWidth > 0 && item.ImageHeight > 0;
  const int width = sized ? item.ImageWidth : picture.Decoded.width();
  const int height = sized ? item.ImageHeight : picture.Decoded.height();
  const std::optional<TVisible> clip = Clip(item.ImageX, item.ImageY, width, height, frame);
  if (!clip) return nullptr;
  visible = *clip;
  TPictureKey key{width, height, visible};
  if (const auto found = picture.Overlays.find(key); found != picture.Overlays.end()) return found->second;

  // Only the visible part is made, so a huge item size costs no more than the frame.
  auto overlay = std::make_shared<TBitmap24>(visible.Width, visible.Height);
  {
    QImage target = Wrap(*overlay);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(-visible.OffsetX, -visible.OffsetY, width, height), picture.Decoded);
  }
  if (picture.Overlays.size() >= kMaxOverlaysPerPicture) picture.Overlays.clear();
  return picture.Overlays.emplace(std::move(key), std::move(overlay)).first->second;
}

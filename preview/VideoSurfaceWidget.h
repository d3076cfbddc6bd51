// The panel the player (and the converter's previewer) paints into: keeps the latest picture
// handed over from the engine's threads and paints it on the main thread.
#pragma once

#include <QImage>
#include <QPainter>
#include <QString>
#include <QMutex>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/VideoSurface.h"

class TVideoSurfaceWidget : public QWidget, public VideoSurface {
  Q_OBJECT

 public:
  explicit TVideoSurfaceWidget(QWidget* parent = nullptr);

  // VideoSurface: callable from any thread.
  void present(const TBitmap24& frame, int64_t timeUs) override;
  void clear() override;
  TSurfaceSize clientSize() const override;
  void setSubtitleText(const std::string& text) override;

  bool HasPicture() const;
  int64_t PictureTime() const;
  QString SubtitleText() const;
  QColor Background() const { return BackgroundColor; }
  void SetBackground(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void RequestRepaint();
  static void DrawSubtitle(QPainter& painter, const QRect& picture, const QString& text);

  mutable QMutex Mutex;
  QImage Picture;  // a deep copy; null after clear()
  int64_t Time = -1;
  QString Subtitle;  // drawn at the foot of the picture
  QColor BackgroundColor = Qt::black;
  std::atomic<int> AreaWidth{0};
  std::atomic<int> AreaHeight{0};
};

#include "VideoSurfaceWidget.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QThread>
#include <algorithm>

TVideoSurfaceWidget::TVideoSurfaceWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  AreaWidth = width();
  AreaHeight = height();
}

void TVideoSurfaceWidget::present(const TBitmap24& frame, int64_t timeUs) {
  if (frame.Empty()) return;
  // The engine reuses its buffer as soon as this returns, so the picture is copied here.
  QImage copy(frame.Pixels.data(), frame.Width, frame.Height, frame.Stride, QImage::Format_BGR888);
  {
    QMutexLocker lock(&Mutex);
    Picture = copy.copy();
    Time = timeUs;
  }
  RequestRepaint();
}

void TVideoSurfaceWidget::clear() {
  {
    QMutexLocker lock(&Mutex);
    Picture = QImage();
    Time = -1;
    Subtitle.clear();
  }
  RequestRepaint();
}

void TVideoSurfaceWidget::setSubtitleText(const std::string& text) {
  {
    QMutexLocker lock(&Mutex);
    Subtitle = QString::fromStdString(text).trimmed();
  }
  RequestRepaint();
}

QString TVideoSurfaceWidget::SubtitleText() const {
  QMutexLocker lock(&Mutex);
  return Subtitle;
}

// Other threads read the size the last resize event left; the widget's own thread asks the
// widget, which also knows the size of a hidden widget that was never shown.
TSurfaceSize TVideoSurfaceWidget::clientSize() const {
  if (QThread::currentThread() == thread()) return {width(), height()};
  return {AreaWidth.load(), AreaHeight.load()};
}

bool TVideoSurfaceWidget::HasPicture() const {
  QMutexLocker lock(&Mutex);
  return !Picture.isNull();
}

int64_t TVideoSurfaceWidget::PictureTime() const {
  QMutexLocker lock(&Mutex);
  return Time;
}

void TVideoSurfaceWidget::SetBackground(const QColor& color) {
  BackgroundColor = color;
  update();
}

// Queued to the widget's own thread; dropped by Qt when the widget is gone by then.
void TVideoSurfaceWidget::RequestRepaint() {
  QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void TVideoSurfaceWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), BackgroundColor);
  QImage picture;
  QString subtitle;
  {
    QMutexLocker lock(&Mutex);
    picture = Picture;  // shared, not copied
    subtitle = Subtitle;
  }
  if (picture.isNull()) return;
  // The player lays its picture out for this size; until it catches up with a resize, the
  // picture is scaled into the panel keeping its proportions.
  QSize size = picture.size();
  if (size != this->size()) size.scale(this->size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, picture);
  if (!subtitle.isEmpty()) DrawSubtitle(painter, target, subtitle);
}

// White words with a dark outline at the foot of the picture, sized to the picture, so they
// read on any background.
void TVideoSurfaceWidget::DrawSubtitle(QPainter& painter, const QRect& picture, const QString& text) {
  QFont font = painter.font();
  font.setPixelSize(std::max(10, picture.height() / 14));
  font.setBold(true);
  const QFontMetrics metrics(font);
  const QRect area = picture.adjusted(8, 0, -8, -metrics.height() / 2);
  const QRect box = metrics.boundingRect(area, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap, text);
  QPainterPath path;
  int y = box.top() + metrics.ascent();
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    path.addText((area.left() + area.right() - metrics.horizontalAdvance(line)) / 2, y, font, line);
    y += metrics.height();
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.strokePath(path, QPen(QColor(0, 0, 0, 200), std::max(2, font.pixelSize() / 8), Qt::SolidLine, Qt::RoundCap,
                                Qt::RoundJoin));
  painter.fillPath(path, Qt::white);
}

void TVideoSurfaceWidget::resizeEvent(QResizeEvent* event) {
  AreaWidth = event->size().width();
  AreaHeight = event->size().height();
  QWidget::resizeEvent(event);
}

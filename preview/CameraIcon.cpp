#include "CameraIcon.h"

#include <QPainter>
#include <QPixmap>

QIcon CameraIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 24.0, size / 24.0);  // drawn on a 24-pixel grid
  painter.setPen(QPen(QColor(40, 40, 40), 1.5));
  painter.setBrush(QColor(90, 110, 140));
  painter.drawRoundedRect(QRectF(2.5, 7.5, 19, 13), 2, 2);
  painter.drawRect(QRectF(8.5, 4.5, 7, 3));
  painter.setBrush(QColor(200, 220, 245));
  painter.drawEllipse(QPointF(12, 14), 4, 4);
  return QIcon(pixmap);
}

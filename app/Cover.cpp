#include "Cover.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

#include "app/core/GlobalObject.h"
#include "platform/Platform.h"

QImage BuiltInCoverPicture() {
  QImage picture(420, 240, QImage::Format_RGB32);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, picture.height());
  sky.setColorAt(0, QColor(62, 96, 168));
  sky.setColorAt(1, QColor(20, 34, 72));
  painter.fillRect(picture.rect(), sky);
  // A film strip across the picture.
  painter.fillRect(QRect(0, 150, picture.width(), 46), QColor(12, 16, 28));
  painter.setBrush(QColor(226, 230, 246));
  painter.setPen(Qt::NoPen);
  for (int x = 8; x < picture.width(); x += 24) {
    painter.drawRoundedRect(QRect(x, 154, 12, 7), 2, 2);
    painter.drawRoundedRect(QRect(x, 185, 12, 7), 2, 2);
  }
  painter.setPen(Qt::white);
  QFont title = painter.font();
  title.setPixelSize(30);
  title.setBold(true);
  painter.setFont(title);
  painter.drawText(QRect(0, 40, picture.width(), 50), Qt::AlignCenter, QString::fromLatin1(ProductTitleText));
  QFont small = painter.font();
  small.setPixelSize(14);
  small.setBold(false);
  painter.setFont(small);
  painter.drawText(QRect(0, 92, picture.width(), 24), Qt::AlignCenter, QStringLiteral("Loading..."));
  return picture;
}

TfrmCover::TfrmCover(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  const std::string custom = Platform().ProgramFolder() + "skin/xvidcover.jpg";
  if (!Platform().ProgramFolder().empty() && Platform().FileExists(custom))
    FPicture.load(QString::fromStdString(custom));
  if (FPicture.isNull()) FPicture = BuiltInCoverPicture();
  setFixedSize(FPicture.size());
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  Timer1.setInterval(1000);
  connect(&Timer1, &QTimer::timeout, this, &TfrmCover::Timer1Timer);
}

void TfrmCover::CloseWhenShown(QWidget* window) {
  FWindow = window;
  Timer1.start();
}

void TfrmCover::Timer1Timer() {
  if (FWindow && FWindow->isVisible()) {
    Timer1.stop();
    close();
  }
}

void TfrmCover::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, FPicture);
}

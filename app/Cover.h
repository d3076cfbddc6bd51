// The splash window shown while the program starts.
#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class TfrmCover : public QWidget {
  Q_OBJECT

 public:
  // The picture is "skin/xvidcover.jpg" in the program's folder when that file loads, else
  // the built-in one; the window takes its size and is centred on the screen.
  explicit TfrmCover(QWidget* parent = nullptr);
  // The splash closes itself at the first tick of its 1-second timer that finds `window` shown.
  void CloseWhenShown(QWidget* window);
  const QImage& Picture() const { return FPicture; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Timer1Timer();

  QImage FPicture;
  QTimer Timer1;
  QPointer<QWidget> FWindow;
};

// The built-in splash picture, drawn rather than stored.
QImage BuiltInCoverPicture();

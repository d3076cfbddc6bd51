// The Qt surface: pictures handed over from another thread are painted on the main thread.
#include "preview/VideoSurfaceWidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "preview_tests";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return std::make_unique<QApplication>(argc, argv);
  }();
  return *app;
}

TBitmap24 Solid(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  TBitmap24 bitmap(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = bitmap.Row(y) + x * 3;
      p[0] = b, p[1] = g, p[2] = r;
    }
  return bitmap;
}

QImage Painted(TVideoSurfaceWidget& w) {
  QCoreApplication::processEvents();
  return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

class TVideoSurfaceWidgetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { App(); }
  void SetUp() override { Widget.resize(200, 100); }
  TVideoSurfaceWidget Widget;
};

TEST_F(TVideoSurfaceWidgetTest, ReportsItsSizeToTheEngine) {
  const TSurfaceSize size = Widget.clientSize();
  EXPECT_EQ(size.Width, 200);
  EXPECT_EQ(size.Height, 100);
  Widget.resize(320, 240);
  EXPECT_EQ(Widget.clientSize().Width, 320);
  EXPECT_EQ(Widget.clientSize().Height, 240);
}

TEST_F(TVideoSurfaceWidgetTest, PaintsAPictureFromAnotherThreadInItsColours) {
  // Orange as B, G, R bytes: a swapped channel order would show blue.
  std::thread([&] { Widget.present(Solid(200, 100, 0x10, 0x80, 0xF0), 1234); }).join();
  EXPECT_TRUE(Widget.HasPicture());
  EXPECT_EQ(Widget.PictureTime(), 1234);
  const QImage shown = Painted(Widget);
  EXPECT_EQ(shown.pixelColor(100, 50), QColor(0xF0, 0x80, 0x10));
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(0xF0, 0x80, 0x10));
}

TEST_F(TVideoSurfaceWidgetTest, ClearShowsTheBackgroundOnly) {
  Widget.present(Solid(200, 100, 255, 255, 255), 0);
  Widget.clear();
  EXPECT_FALSE(Widget.HasPicture());
  EXPECT_EQ(Painted(Widget).pixelColor(100, 50), QColor(Qt::black));
}

TEST_F(TVideoSurfaceWidgetTest, PictureOfAnotherSizeKeepsItsProportions) {
  // 100 x 100 into 200 x 100: a centred square, background on both sides.
  Widget.present(Solid(100, 100, 255, 255, 255), 0);
  const QImage shown = Painted(Widget);
  EXPECT_EQ(shown.pixelColor(100, 50), QColor(Qt::white));
  EXPECT_EQ(shown.pixelColor(10, 50), QColor(Qt::black));
  EXPECT_EQ(shown.pixelColor(190, 50), QColor(Qt::black));
}

TEST_F(TVideoSurfaceWidgetTest, IgnoresAnEmptyPicture) {
  Widget.present(TBitmap24(), 5);
  EXPECT_FALSE(Widget.HasPicture());
}

TEST_F(TVideoSurfaceWidgetTest, DrawsTextSubtitlesAtTheFootOfThePicture) {
  const auto whiteRows = [](const QImage& image, int y0, int y1) {
    int white = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < image.width(); ++x) white += QColor(image.pixel(x, y)).lightness() > 240;
    return white;
  };
  Widget.present(Solid(200, 100, 0x40, 0x40, 0x40), 0);
  EXPECT_EQ(whiteRows(Painted(Widget), 0, 100), 0);
  std::thread([&] { Widget.setSubtitleText("Hello there\n"); }).join();
  EXPECT_EQ(Widget.SubtitleText(), "Hello there");
  const QImage shown = Painted(Widget);
  EXPECT_GT(whiteRows(shown, 60, 100), 20);
  EXPECT_EQ(whiteRows(shown, 0, 50), 0);
  Widget.clear();  // a closed file takes its subtitle with it
  EXPECT_EQ(Widget.SubtitleText(), "");
}

}  // namespace

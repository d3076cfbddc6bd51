#include "conversion/hook/WmText.h"

#include <QFontMetrics>

QFont WmQFont(const TWmFont& font) {
  QFont qfont;
  if (!font.Face.empty()) qfont.setFamily(QString::fromStdString(font.Face));
  if (font.Size > 0) qfont.setPointSize(font.Size);
  qfont.setBold(font.Bold);
  qfont.setItalic(font.Italic);
  qfont.setUnderline(font.Underline);
  qfont.setStrikeOut(font.StrikeOut);
  return qfont;
}

QString WmQText(const std::string& text) { return QString::fromStdString(text); }

void SetWmTextResolution(QImage& image) {
  constexpr int dotsPerMeter = static_cast<int>(kWmTextDotsPerInch / 0.0254 + 0.5);
  image.setDotsPerMeterX(dotsPerMeter);
  image.setDotsPerMeterY(dotsPerMeter);
}

QSize WmTextExtent(const std::string& text, const TWmFont& font) {
  // Measured against a device of the text's resolution, not the screen's.
  QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
  SetWmTextResolution(device);
  const QFontMetrics metrics(WmQFont(font), &device);
  return metrics.boundingRect(QRect(), kWmTextFlags, WmQText(text)).size();
}

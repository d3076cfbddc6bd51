// How a text watermark becomes pixels: the font of a TWmFont and the extent of its text. Shared
// by the frame renderer and whatever sizes a text box, so both measure alike. The text is laid
// out at a fixed 96 dots per inch whatever the screen, so a box keeps its size on every machine
// and in the headless converter. Needs a QGuiApplication (Qt's font database); callable from
// any thread once it exists.
#pragma once

#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <string>

#include "editing/render/WaterMark.h"

constexpr int kWmTextDotsPerInch = 96;
// The alignment the text is drawn with inside its box: from the top-left corner, one line per
// line break of the text.
constexpr int kWmTextFlags = Qt::AlignLeft | Qt::AlignTop;

// The font of `font` (face, size in points, style); its colour is drawn by the caller. An empty
// or unknown face falls back to Qt's default family.
QFont WmQFont(const TWmFont& font);
QString WmQText(const std::string& text);
// Gives `image` the text's resolution: fonts drawn on it by a QPainter take their pixel size
// from it.
void SetWmTextResolution(QImage& image);
// Width and height, in pixels at kWmTextDotsPerInch, of `text` drawn in `font`.
QSize WmTextExtent(const std::string& text, const TWmFont& font);

// Watermark items given as text, as the headless converter takes them:
//
//   TEXT@X,Y[,WxH][;KEY[=VALUE]]...    a text item
//   FILE@X,Y[,WxH][;KEY[=VALUE]]...    a picture item (a file Qt can read, such as BMP)
//
// The last "@" ends the text or file name, which may hold any other character. X,Y is the
// box's top-left corner in source pixels (negative: partly off the frame); WxH its size, by
// default the text's own extent or the picture's own size (a picture is scaled to WxH).
// Keys, each at most once in effect (the last wins):
//   opacity=0..255   255 (default) opaque, 0 invisible
//   from=S, to=S     the whole seconds of the source during which the item shows; default
//                    from 0 to the end; to >= from
//   text only: font=FACE (Qt's default family when none), size=POINTS (1..1000, default 24),
//   bold, italic, underline, strike (flags without a value), color=#RRGGBB (default
//   #FFFFFF), background=#RRGGBB (an opaque box; default none, the text alone)
// Needs a QGuiApplication (fonts, picture reading).
#pragma once

#include <string>

#include "editing/render/WaterMark.h"

// Fills `item` from `spec`; false with a one-line `error` (item then unspecified).
bool ParseTextItem(const std::string& spec, TWmRec& item, std::string& error);
bool ParsePictureItem(const std::string& spec, TWmRec& item, std::string& error);

// The lines of a --help text that describe the two options and the syntax above.
extern const char* const ItemSpecHelp;

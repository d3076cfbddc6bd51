// The one look of the program's owner-drawn lists and drop-down boxes.
#pragma once

#include <QColor>

inline const QColor HighlightFillColour(185, 204, 236);
inline const QColor HighlightFrameColour(122, 159, 218);
// The format chooser's box and list.
inline const QColor ChooserBackgroundColour(246, 248, 248);

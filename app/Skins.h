// The seven colour themes of Tools > Skin. A theme is a palette and a style sheet set on the
// whole application, so every window and dialog shown later takes the current theme.
#pragma once

#include <QColor>

inline constexpr int SkinCount = 7;

struct TSkinTheme {
  const char* Caption;  // the Skin menu item
  QColor OddRow;        // job-list rows 1, 3, 5, ...
  QColor Window;        // window and dialog background
  QColor Button;        // buttons and menu bar
  QColor Accent;        // button frames, group-box titles, the menu highlight
};

// skinIndex 0..6 ("Default" .. "Light blue"); nullptr for any other index.
const TSkinTheme* SkinTheme(int skinIndex);
// The job list's odd-row colour of a theme; RGB(235,235,235) for an index without a theme.
QColor OddRowColour(int skinIndex);

// Applies the theme of `skinIndex` to the application; an index without a theme applies
// theme 0, the look the windows are designed in.
void ApplySkin(int skinIndex);
// The index applied last (0 before any ApplySkin).
int CurrentSkin();

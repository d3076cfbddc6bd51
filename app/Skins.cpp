#include "Skins.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace {

// The odd-row colours are the themes' fixed colours; the rest of each theme is built around
// them: a light window colour, a slightly deeper button colour and a dark accent of the hue.
const TSkinTheme Themes[SkinCount] = {
    {"Default", QColor(226, 230, 246), QColor(236, 239, 248), QColor(214, 222, 242), QColor(62, 96, 168)},
    {"Gray", QColor(236, 236, 236), QColor(236, 236, 236), QColor(218, 218, 218), QColor(96, 96, 96)},
    {"Orange", QColor(248, 242, 224), QColor(250, 243, 230), QColor(246, 222, 186), QColor(196, 110, 20)},
    {"Purple", QColor(246, 230, 241), QColor(245, 236, 244), QColor(230, 208, 228), QColor(128, 56, 120)},
    {"Red", QColor(247, 225, 225), QColor(248, 236, 236), QColor(238, 206, 206), QColor(168, 40, 40)},
    {"Green", QColor(226, 247, 225), QColor(236, 247, 236), QColor(206, 234, 204), QColor(44, 124, 52)},
    {"Light blue", QColor(225, 240, 247), QColor(234, 244, 250), QColor(204, 228, 242), QColor(30, 120, 170)},
};

int GCurrentSkin = 0;

QString StyleSheetOf(const TSkinTheme& theme) {
  const QString button = theme.Button.name();
  const QString light = theme.Button.lighter(108).name();
  const QString accent = theme.Accent.name();
  return QStringLiteral(
             "QMenuBar { background: %1; }"
             "QMenuBar::item:selected, QMenu::item:selected { background: rgb(185,204,236); color: black; }"
             "QPushButton, QToolButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %2, stop:1 %1);"
             " border: 1px solid %3; border-radius: 3px; padding: 3px 8px; }"
             "QPushButton:hover, QToolButton:hover { border-color: rgb(122,160,218); background: %2; }"
             "QPushButton:pressed, QToolButton:pressed { background: %1; }"
             "QPushButton:disabled, QToolButton:disabled { color: gray; border-color: silver; }"
             "QGroupBox { border: 1px solid %3; border-radius: 4px; margin-top: 8px; padding-top: 4px; }"
             "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; color: %3; }")
      .arg(button, light, accent);
}

}  // namespace

const TSkinTheme* SkinTheme(int skinIndex) {
  if (skinIndex < 0 || skinIndex >= SkinCount) return nullptr;
  return &Themes[skinIndex];
}

QColor OddRowColour(int skinIndex) {
  const TSkinTheme* theme = SkinTheme(skinIndex);
  return theme != nullptr ? theme->OddRow : QColor(235, 235, 235);
}

void ApplySkin(int skinIndex) {
  if (SkinTheme(skinIndex) == nullptr) skinIndex = 0;
  const TSkinTheme& theme = Themes[skinIndex];
  // Fusion draws every control from the palette, so the theme reaches all of them.
  if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette palette;
  palette.setColor(QPalette::Window, theme.Window);
  palette.setColor(QPalette::WindowText, Qt::black);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, theme.OddRow);
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::Button, theme.Button);
  palette.setColor(QPalette::ButtonText, Qt::black);
  palette.setColor(QPalette::Highlight, QColor(185, 204, 236));
  palette.setColor(QPalette::HighlightedText, Qt::black);
  palette.setColor(QPalette::Link, theme.Accent);
  palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, Qt::gray);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::gray);
  palette.setColor(QPalette::Disabled, QPalette::Text, Qt::gray);
  QApplication::setPalette(palette);
  qApp->setStyleSheet(StyleSheetOf(theme));
  GCurrentSkin = skinIndex;
}

int CurrentSkin() { return GCurrentSkin; }
